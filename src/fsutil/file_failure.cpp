// Recording the first failing file-system call of an operation, and the system's text for its
// error.
#include "fsutil/file_failure.h"

#include <cerrno>

// The Win32 codes of the errors the runtime's file calls report; others are a general failure.
DWORD Win32ErrorFromCrt(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EISDIR:  // a folder opened as a file: Windows says access denied
            return ERROR_ACCESS_DENIED;
        case ENOENT:
            return ERROR_PATH_NOT_FOUND;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EMFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        default:
            return ERROR_GEN_FAILURE;
    }
}

void NoteFailure(FileFailure* failure, const wchar_t* call, const std::wstring& path,
                 const std::wstring& target) {
    const DWORD error = GetLastError();
    if (failure == nullptr || failure->Recorded()) {
        return;
    }
    failure->call = call;
    failure->path = path;
    failure->target = target;
    failure->error = error;
}

void NoteRefusal(FileFailure* failure, const wchar_t* rule, const std::wstring& path, DWORD error,
                 const std::wstring& target) {
    if (failure == nullptr || failure->Recorded()) {
        return;
    }
    *failure = FileFailure{rule, path, target, error, true};
}

void NoteCrtFailure(FileFailure* failure, const wchar_t* call, const std::wstring& path, int err,
                    const std::wstring& target) {
    SetLastError(Win32ErrorFromCrt(err));
    NoteFailure(failure, call, path, target);
}

std::wstring SystemErrorText(DWORD error) {
    wchar_t buffer[512];
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, buffer, sizeof(buffer) / sizeof(buffer[0]), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

std::wstring DescribeFailure(const FileFailure& failure) {
    if (!failure.Recorded()) {
        return L"no file operation failed";
    }
    std::wstring text = failure.refused ? failure.path + L" refused: not " + failure.call
                                        : failure.call + L" " + failure.path;
    if (!failure.target.empty()) {
        text += (failure.refused ? L" (to " + failure.target + L")" : L" -> " + failure.target);
    }
    text += L": error " + std::to_wstring(failure.error);
    const std::wstring reason = SystemErrorText(failure.error);
    if (!reason.empty()) {
        text += L": " + reason;
    }
    return text;
}
