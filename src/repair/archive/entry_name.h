// Rules for the entry names of an archive: which names are directories, which names are safe to
// use as relative paths below a destination folder, and how a stored name becomes a path name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Byte offsets of the separators ("/" or "\") of a name in the system code page. In a double-byte
// code page (936 on Chinese Windows) 0x5C can be the second byte of a character, which is no
// separator; so a name that is valid text in the code page is read character by character, any
// other byte by byte (which can only find more separators, never fewer).
std::vector<std::size_t> SeparatorOffsets(const std::string& name);

// A name ending in a separator stands for a directory.
bool IsDirectoryEntryName(const std::string& name);

// True when the name stays below the folder it is extracted into and names a plain file or
// folder on Windows as on Linux: not empty, no NUL byte, not rooted, no drive or stream colon, no
// empty segment before its end, no ".." segment, and no segment that Windows opens as a device.
bool IsSafeEntryName(const std::string& name);

// The stored name as a narrow name in the system code page. A name flagged as UTF-8 is
// converted; false when it is no valid UTF-8 or has no exact form in the code page. Any other
// name is taken byte for byte.
bool EntryNameInSystemCodePage(const std::string& stored, bool utf8, std::string& name);
