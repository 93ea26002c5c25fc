// The temporary folder's layout that the extraction and merge stages share: where every archive
// is unpacked, and which names may become paths inside it.
#pragma once

#include <string>

// g_exeDir joined with "TmpPatch".
std::wstring TmpPatchFolder();

// True for text that names one plain item inside the temporary folder: not empty, no separator
// or colon, not "." or "..", and not one of the stages' own folders "All" and "OrgPatch". The
// patch list comes from the network, so its texts are checked before they become paths.
bool IsPlainTmpName(const std::wstring& name);

// The cumulative patch's own extraction folder, "patch" + V: never the folder of a list entry,
// whose version V may equal.
std::wstring CumulativeFolderName(const std::wstring& newestVersion);

// True when the patch list is not empty and the download stage found the cumulative patch.
bool CumulativePatchExpected();
