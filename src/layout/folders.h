// The client folder's layout: where the client's patch folders are and where a repair keeps its
// downloads, unpacked trees, merged tree, backup and journal. Every stage, the start-up and the
// HTTP client build these paths here, from g_exeDir, and nowhere else.
#pragma once

#include <array>
#include <string>

// The folder of the running executable, with its trailing "\"; empty when its path has none.
// The start-up stores it in g_exeDir.
std::wstring ExecutableFolder();

// g_exeDir\Documents: the client's data, holding its patch folders.
std::wstring DocumentsFolder();
// The names of the client's four patch folders in Documents (and in the backup), in the order
// every stage handles them.
const std::array<std::wstring, 4>& PatchSubFolderNames();

// g_exeDir\TmpPatch: the repair's temporary folder.
std::wstring TmpPatchFolder();
// TmpPatch\<name>: a downloaded archive, or any other item directly in TmpPatch.
std::wstring TmpPatchPath(const std::wstring& name);
// TmpPatch\All: the merged tree that the install copies into Documents.
std::wstring AllFolder();
// TmpPatch\OrgPatch: the backup of the client's patch folders.
std::wstring OrgPatchFolder();
// TmpPatch\Undone: where a restore moves what a failed install left of a patch folder, before
// the backup is moved back in its place.
std::wstring UndoneFolder();
// TmpPatch\<version>: where the archive of the list entry with that version is unpacked.
std::wstring ExtractionFolder(const std::wstring& version);
// TmpPatch\patch<V>: where the cumulative patch of the newest release line is unpacked.
std::wstring CumulativeFolder(const std::wstring& newestVersion);
// TmpPatch\repair.journal.
std::wstring RepairJournalPath();

// True for text that names one plain item inside TmpPatch: not empty, no separator, colon or
// zero character, not "." or "..", and not one of the repair's own folders "All", "OrgPatch" and
// "Undone" (in any case). Names from the patch list come from the network, so they are checked
// before they become paths.
bool IsPlainTmpName(const std::wstring& name);
