// The first file-system call that failed in an operation over many files (a tree copy, a tree
// deletion, a restore), kept so that the caller can write it to the log and name it to the user.
#pragma once

#include <string>

#include "platform/win32.h"

struct FileFailure {
    std::wstring call;    // the Win32 or runtime function that failed ("CopyFileW"), or the rule
                          // of ours that refused the item ("a plain name in TmpPatch")
    std::wstring path;    // the item it failed on
    std::wstring target;  // the second path of a copy or a move; empty otherwise
    DWORD error = ERROR_SUCCESS;
    bool refused = false;  // `call` is a rule of ours: no system call was made

    bool Recorded() const { return !call.empty(); }
};

// Records the call with GetLastError() when `failure` is given and holds nothing yet: the first
// failure is the cause, the later ones are mostly its consequences.
void NoteFailure(FileFailure* failure, const wchar_t* call, const std::wstring& path,
                 const std::wstring& target = std::wstring());
// The same for a C runtime call that reports through errno (_wmkdir, _wfopen): the error is the
// Win32 code that stands for it.
void NoteCrtFailure(FileFailure* failure, const wchar_t* call, const std::wstring& path, int err,
                    const std::wstring& target = std::wstring());
// Records that a rule of ours refused the item before any system call: `rule` says what the item
// failed to be, `error` is the Win32 code that stands for it (ERROR_INVALID_NAME...).
void NoteRefusal(FileFailure* failure, const wchar_t* rule, const std::wstring& path, DWORD error,
                 const std::wstring& target = std::wstring());
// The Win32 code that stands for a C runtime errno.
DWORD Win32ErrorFromCrt(int err);
// "CopyFileW <path> -> <target>: error 5: Access is denied." for the log.
std::wstring DescribeFailure(const FileFailure& failure);
// The system's text for an error code, without its line end; empty when the system has none.
std::wstring SystemErrorText(DWORD error);
