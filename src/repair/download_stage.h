// Preparing the temporary folder, choosing the missing patches and downloading them.
#pragma once

#include <string>
#include <vector>

#include "patchlist/patch_entry.h"

int PrepareTmpPatchFolder();
bool DownloadPatches(std::vector<PatchEntry>& downloads);

// "patch" + the newest version up to its last "." + ".1" + ".qx.all.win32".
std::wstring CumulativePatchName(const std::wstring& newestVersion);
// The newest version up to its last "." followed by ".1" (the whole version + ".1" without ".").
std::wstring CumulativePatchVersion(const std::wstring& newestVersion);
// The text of a URL after its last "/" (the whole URL without one).
std::wstring ArchiveFileName(const std::wstring& url);
