// Process handles of the layer: a pid wrapped so that WaitForSingleObject, TerminateProcess,
// GetModuleFileNameExW and CloseHandle work on it (used by OpenProcess and by ShellExecuteExW).
#pragma once

#include <sys/types.h>

#include "win32_posix.h"

namespace qx {

// A handle for the process `pid`. The process is pinned with a pidfd at once, so a pid reused
// later is never mistaken for it. For a child of ours (`child`), the handle reaps it with
// waitpid once it has ended. Null with the last error set when the process does not exist.
HANDLE MakeProcessHandle(pid_t pid, bool child);

// The pid behind a process handle, or -1 (ERROR_INVALID_HANDLE) for anything else.
pid_t ProcessIdOf(HANDLE process);

}  // namespace qx
