// Retrieval of the patch list at start-up: up to three transfers, each failure followed by the
// user's retry question; a successful body is parsed into g_patchList and sorted.
#include "patchlist/fetch_patch_list.h"

#include <string>

#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/test_setting.h"
#include "platform/win32.h"

namespace {

const int kMaxAttempts = 3;

bool UserWantsRetry() {
    return MessageBoxW(nullptr, L"获取更新列表失败，是否需要重试！", L"下载异常", MB_OKCANCEL) ==
           IDOK;
}

}  // namespace

const char* PatchListUrl() {
    // Tests point the program at a server of their own, on whatever port it got.
    if (const char* testUrl = TestSetting("QXWEB_PATCHLIST_URL")) {
        return testUrl;
    }
    static const std::string url =
        std::string(QXWEB_PATCHLIST_SCHEME "://") + QXWEB_PATCHLIST_HOST PATCH_LIST_PATH;
    return url.c_str();
}

bool FetchPatchList() {
    int attempts = 0;
    for (;;) {
        const std::string url = PatchListUrl();
        HttpClient* client = GetHttpClient();
        std::wstring text;
        if (client->FetchToMemory(url, text)) {
            if (!ParsePatchList(text)) {
                return false;
            }
            SortPatchList();
            return true;
        }
        // The question follows every failed transfer, the last one too (OK then only waits).
        if (!UserWantsRetry()) {
            return false;
        }
        Sleep(500);
        if (++attempts >= kMaxAttempts) {
            return false;
        }
    }
}
