// What the system under the tests can do that differs between our Linux layer, Windows and Wine:
// detecting Wine, making symbolic links, and the few places where Wine departs from Windows, so
// that a test skips only the case the system cannot hold and says why.
#pragma once

#include <string>

namespace qxtest {

// True when the tests run as a Windows program under Wine (ntdll exports wine_get_version).
bool RunningUnderWine();

// Makes a symbolic link at `link` pointing to `target` (host paths); a folder link when `folder`.
// False when the system made none: Wine's CreateSymbolicLinkW reports success but makes nothing,
// and Windows refuses without the privilege or developer mode.
bool MakeSymlink(const std::string& target, const std::string& link, bool folder);

// The reason a test gives when it skips because MakeSymlink made nothing.
const char* NoSymlinkReason();

// Each of these is null where the system behaves like Windows, else the reason to skip.
// Wine keeps no read-only attribute on a folder.
const char* FolderReadOnlyIgnored();
// Wine run as root opens a read-only file for writing (the kernel lets root through).
const char* ReadOnlyFileWritable();
// Wine empties a file held without sharing when CreateFileW or CopyFileW replace it and fail.
const char* FileInUseEmptiedByFailedReplace();
// Wine replaces a read-only file when a move replaces it.
const char* ReadOnlyFileReplacedByMove();
// Wine moves a folder while a file below it is open without sharing.
const char* FolderWithOpenFileMovable();
// std::filesystem of MinGW cannot walk folders whose paths exceed MAX_PATH.
const char* LongPathsNotWalkable();

}  // namespace qxtest
