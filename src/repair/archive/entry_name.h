// Rules for the entry names of an archive: how a stored name becomes text, which names are
// directories, and which are safe to use as relative paths below a destination folder.
#pragma once

#include <string>

// The stored name as wide text: UTF-8 when the entry's flag says so, else text in the ANSI code
// page (as the system's own archivers write names). False when the bytes are no text in that
// encoding: such a name could only be used as something other than what the archive holds.
bool DecodeEntryName(const std::string& stored, bool utf8, std::wstring& name);

// A name ending in a separator ("/" or "\") stands for a directory.
bool IsDirectoryEntryName(const std::wstring& name);

// True when the name stays below the folder it is extracted into and names a plain file or
// folder on Windows as on Linux: not empty, no NUL, not rooted, no drive or stream colon, no
// empty segment before its end, no ".." segment, and no segment that Windows opens as a device.
bool IsSafeEntryName(const std::wstring& name);
