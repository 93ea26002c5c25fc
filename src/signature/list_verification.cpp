// The patch list's check: the signature with the built-in key, then the timestamp against the
// record of the newest accepted list. Nothing about the record can refuse a good list: whatever is
// wrong with it is logged and the list is judged as if there were none.
#include "signature/list_verification.h"

#include <ctime>

#include "fsutil/file_failure.h"
#include "signature/list_key.h"
#include "signature/minisign_format.h"
#include "signature/rollback_record.h"

const wchar_t kListSignatureRefusedText[] = L"更新列表签名校验失败";

namespace {

// The English texts are ASCII.
std::wstring Widened(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// "2026-01-31 08:00:00 UTC (timestamp 1769846400)"; the date is left out where the C runtime
// cannot show it (past the year 3000 on Windows). gmtime's shared result is safe here: lists are
// checked on the main thread alone, at start-up.
std::string SigningTime(int64_t seconds) {
    std::string text = "timestamp " + std::to_string(seconds);
    const std::time_t time = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&time);
    char date[32];
    if (utc != nullptr && std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S UTC", utc) > 0) {
        text = std::string(date) + " (" + text + ")";
    }
    return text;
}

void AddNote(ListCheck& check, const std::wstring& note) {
    check.recordNote += (check.recordNote.empty() ? L"" : L"; ") + note;
}

// The timestamp of the record of the newest accepted list, when there is one that holds.
std::optional<int64_t> AcceptedTimestamp(const MinisignPublicKey& key,
                                         const std::wstring& clientFolder, ListCheck& check) {
    std::optional<std::string> record;
    FileFailure failure;
    if (!ReadRollbackRecord(clientFolder, record, &failure)) {
        AddNote(check, L"record of the newest accepted list unreadable, treated as absent: " +
                           DescribeFailure(failure));
        return std::nullopt;
    }
    if (!record) {
        return std::nullopt;
    }
    const SignatureCheck recorded = CheckTrustedComment(key, *record);
    if (recorded.verdict != ListVerdict::Accepted) {
        AddNote(check, L"record of the newest accepted list " + RollbackRecordPath(clientFolder) +
                           L" damaged, treated as absent: " + Widened(recorded.reason));
        return std::nullopt;
    }
    return recorded.timestamp;
}

}  // namespace

bool ListSignaturesRequired() {
    return !ListPublicKeyText().empty();
}

ListCheck VerifyPatchList(const std::string& body, const std::optional<std::string>& signatureFile,
                          const std::wstring& clientFolder) {
    ListCheck check;
    const std::string keyText = ListPublicKeyText();
    if (keyText.empty()) {
        check.verdict = ListVerdict::Accepted;
        check.reason = L"not checked: no public key built in";
        return check;
    }
    MinisignPublicKey key;
    if (!ParsePublicKey(keyText, key)) {
        check.reason = L"the built-in public key is not a minisign public key";
        return check;
    }
    const SignatureCheck signature = CheckSignature(key, body, signatureFile);
    check.verdict = signature.verdict;
    check.reason = Widened(signature.reason);
    if (!check.Accepted()) {
        return check;
    }
    const std::optional<int64_t> accepted = AcceptedTimestamp(key, clientFolder, check);
    if (accepted && signature.timestamp < *accepted) {
        check.verdict = ListVerdict::Older;
        check.reason = Widened("signed on " + SigningTime(signature.timestamp) +
                               ", before the list accepted on " + SigningTime(*accepted));
        return check;
    }
    check.reason += Widened(" on " + SigningTime(signature.timestamp));
    FileFailure failure;
    if ((!accepted || signature.timestamp > *accepted) &&
        !WriteRollbackRecord(clientFolder, *signatureFile, &failure)) {
        AddNote(check,
                L"record of the newest accepted list not written: " + DescribeFailure(failure));
    }
    return check;
}
