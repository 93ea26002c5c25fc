// The program's own module handle and the helper that copies a path into a caller's buffer with
// the Win32 size rules.
#pragma once

#include <string>

#include "win32_posix.h"

namespace qx {

// What main() hands to wWinMain as hInstance: the classic image base, never null.
inline HINSTANCE MainInstance() {
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
}

// GetCurrentDirectoryW-style copy: the length without the terminator when it fits, else the size
// needed with the terminator (the buffer untouched).
DWORD CopyOutOrNeeded(const std::wstring& text, LPWSTR buffer, DWORD size);

// GetModuleFileNameW-style copy: truncates to size-1 characters plus the terminator, returning
// size with ERROR_INSUFFICIENT_BUFFER when it does not fit; the length when it does.
DWORD CopyOutTruncating(const std::wstring& text, LPWSTR buffer, DWORD size);

}  // namespace qx
