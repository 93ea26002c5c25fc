// The cumulative patch's presence as the download stage's probe recorded it in the HTTP client.
#include "repair/cumulative_patch.h"

#include "net/http_client.h"
#include "patchlist/patch_list.h"

bool CumulativePatchExpected() {
    if (g_patchList.empty()) {
        return false;
    }
    const HttpClient* client = GetHttpClient();
    return client != nullptr && client->cumulativePatchPresent;
}
