// Names derived from patch-list entries: the file name a patch archive gets in TmpPatch, and the
// cumulative patch's version, file name and extraction folder name.
#pragma once

#include <string>

// The text of a URL after its last "/" (the whole URL without one).
std::wstring ArchiveFileName(const std::wstring& url);
// The newest version up to its last "." followed by ".1" (the whole version + ".1" without ".").
std::wstring CumulativePatchVersion(const std::wstring& newestVersion);
// "patch" + the cumulative version + ".qx.all.win32".
std::wstring CumulativePatchName(const std::wstring& newestVersion);
// The cumulative patch's own extraction folder, "patch" + the cumulative version: never the
// folder of a list entry, whose version it may equal.
std::wstring CumulativeFolderName(const std::wstring& newestVersion);
