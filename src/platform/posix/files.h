// File-state rules the layer shares between its Win32 file functions and its C runtime: the
// attributes of a host path, read-only as the owner write bit, and "in use" as someone's flock.
#pragma once

#include <sys/stat.h>

#include <string>

#include "win32_posix.h"

namespace qx {

// The Win32 attributes of what lstat found at hostPath (named `name`, for the hidden rule).
DWORD AttributesFromStat(const std::string& hostPath, const std::string& name,
                         const struct stat& info);

// Read-only is the owner write bit, honoured even for root (the kernel would let root write).
inline bool IsReadOnly(const struct stat& info) {
    return (info.st_mode & S_IWUSR) == 0;
}

// True when another open file description holds a flock on the file that keeps us from taking
// `operation` (LOCK_EX: any lock; LOCK_SH: an exclusive one).
bool IsInUse(const std::string& hostPath, int operation);

}  // namespace qx
