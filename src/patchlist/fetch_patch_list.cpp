// Retrieval of the patch list at start-up: up to three attempts, each failure followed by the
// user's retry question; a list that arrives whole and, in a build with a key, signed by the
// publisher is parsed into g_patchList and sorted.
#include "patchlist/fetch_patch_list.h"

#include <optional>
#include <string>

#include "fsutil/text.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/test_setting.h"
#include "platform/win32.h"
#include "signature/list_verification.h"
#include "state/log.h"

namespace {

const int kMaxAttempts = 3;
const unsigned kPauseBeforeRetryMs = 500;
const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
const char kSignatureSuffix[] = ".minisig";
// A patch list is a few KiB, a signature file a few hundred bytes: anything far longer is no list.
const size_t kLargestList = 64u << 20;
const size_t kLargestSignature = 16u << 10;

// The list's text in the system code page. A text saved by Windows Notepad as UTF-8 starts with a
// byte-order mark, which is no part of its first line.
std::wstring DecodeList(std::string body) {
    if (body.compare(0, sizeof kUtf8ByteOrderMark - 1, kUtf8ByteOrderMark) == 0) {
        body.erase(0, sizeof kUtf8ByteOrderMark - 1);
    }
    std::wstring text;
    return AnsiToWide(body, text);
}

bool IsAbsent(const TransferOutcome& outcome) {
    return outcome.status == 404 || outcome.status == 410;
}

// The list's bytes as received, checked against the signature file beside it; false, with what
// the user is told in `outcome`, when the attempt failed.
bool FetchSignedList(const std::wstring& clientFolder, std::string& body,
                     TransferOutcome& outcome) {
    outcome = GetHttpClient()->FetchToMemory(PatchListUrl(), body, kLargestList);
    if (!outcome.Succeeded() || !ListSignaturesRequired()) {
        return outcome.Succeeded();
    }
    std::string signatureFile;
    const TransferOutcome signature = GetHttpClient()->FetchToMemory(
        std::string(PatchListUrl()) + kSignatureSuffix, signatureFile, kLargestSignature);
    if (!signature.Succeeded() && !IsAbsent(signature)) {
        outcome = signature;
        return false;
    }
    const ListCheck check = VerifyPatchList(
        body, signature.Succeeded() ? std::optional<std::string>(signatureFile) : std::nullopt,
        clientFolder);
    LogWrite(g_log, L"patch list %ls: %ls", check.Accepted() ? L"accepted" : L"refused",
             check.reason.c_str());
    if (!check.recordNote.empty()) {
        LogWrite(g_log, L"patch list: %ls", check.recordNote.c_str());
    }
    if (!check.Accepted()) {
        outcome = FailedTransfer(kListSignatureRefusedText);
        return false;
    }
    return true;
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

bool FetchPatchList(const std::wstring& clientFolder, PatchListPrompts& prompts) {
    for (int attempts = 0;;) {
        std::string body;
        TransferOutcome outcome;
        if (FetchSignedList(clientFolder, body, outcome)) {
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
