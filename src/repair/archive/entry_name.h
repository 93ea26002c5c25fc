// Rules for the entry names of an archive: which names are directories, and which names are safe
// to use as relative paths below a destination folder.
#pragma once

#include <string>

// A name ending in "/" or "\" stands for a directory.
bool IsDirectoryEntryName(const std::string& name);

// True when the name stays below the folder it is extracted into: not empty, no NUL byte, not
// rooted, no drive or stream colon, no empty segment before its end and no ".." segment.
bool IsSafeEntryName(const std::string& name);
