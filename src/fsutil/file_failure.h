// The first file-system call that failed in an operation over many files (a tree copy, a tree
// deletion, a restore), kept so that the caller can write it to the log and name it to the user.
#pragma once

#include <string>

#include "platform/win32.h"

struct FileFailure {
    std::wstring call;    // the Win32 function that failed, as "CopyFileW"
    std::wstring path;    // the item it failed on
    std::wstring target;  // the second path of a copy or a move; empty otherwise
    DWORD error = ERROR_SUCCESS;

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
// The system's text for an error code, without its line end; empty when the system has none.
std::wstring SystemErrorText(DWORD error);
