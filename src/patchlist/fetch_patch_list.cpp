// Retrieval of the patch list at start-up: up to three transfers, each failure followed by the
// user's retry question; a successful body is parsed into g_patchList and sorted.
#include "patchlist/fetch_patch_list.h"

#include <string>

#include "fsutil/text.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/win32.h"

namespace {

const int kMaxAttempts = 3;
const unsigned kPauseBeforeRetryMs = 500;
const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// The list's text in the system code page. A text saved by Windows Notepad as UTF-8 starts with a
// byte-order mark, which is no part of its first line.
std::wstring DecodeList(std::string body) {
    if (body.compare(0, sizeof kUtf8ByteOrderMark - 1, kUtf8ByteOrderMark) == 0) {
        body.erase(0, sizeof kUtf8ByteOrderMark - 1);
    }
    std::wstring text;
    return AnsiToWide(body, text);
}

}  // namespace

const char* PatchListUrl() {
    static const std::string url =
        std::string(QXWEB_PATCHLIST_SCHEME "://") + QXWEB_PATCHLIST_HOST PATCH_LIST_PATH;
    return url.c_str();
}

bool FetchPatchList(PatchListPrompts& prompts) {
    for (int attempts = 0;;) {
        std::string body;
        const TransferOutcome outcome = GetHttpClient()->FetchToMemory(PatchListUrl(), body);
        if (outcome.Succeeded()) {
            if (!ParsePatchList(DecodeList(body))) {
                return false;
            }
            SortPatchList();
            return true;
        }
        prompts.TransferFailed(outcome);
        // The question follows every failed transfer, the last one too (OK then only waits).
        if (!prompts.RetryWanted()) {
            return false;
        }
        Sleep(kPauseBeforeRetryMs);
        if (++attempts >= kMaxAttempts) {
            return false;
        }
    }
}
