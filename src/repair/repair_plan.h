// The repair plan: what a repair starts from, and the archives it fetches, each with everything
// the later stages need. The download stage makes it; the extraction and the merge only read it.
#pragma once

#include <string>
#include <vector>

#include "patchlist/patch_entry.h"
#include "repair/archive_hash.h"

// What a repair starts from, fixed before it runs: the patch list sorted by version, the
// publisher's hash lines of its header, and the client's local version ("" when it has none).
struct RepairInputs {
    std::vector<PatchEntry> patchList;
    ArchiveHashes hashes;
    std::wstring localVersion;
    // The list was signed: an archive it names without a hash line is not the publisher's to vouch
    // for, and is never fetched.
    bool hashesRequired = false;
};

// One archive of the repair, in the order the stages handle it.
struct PlannedArchive {
    std::string url;                // the address, in the system code page as libcurl takes it
    std::wstring fileName;          // its name in TmpPatch, unique within the plan
    std::wstring path;              // TmpPatch\<fileName>
    std::wstring folderName;        // its extraction folder's name in TmpPatch, unique too
    std::wstring extractionFolder;  // TmpPatch\<folderName>
    std::string sha256;             // the publisher's digest in lower-case hex; "" without a line
    bool cumulative = false;        // the cumulative patch of the newest release line
};

struct RepairPlan {
    // The download list: the patch-list entries chosen, newest first.
    std::vector<PatchEntry> downloads;
    // Their archives oldest first (the list in reverse), then the cumulative patch once the server
    // was found to have it: the order of the downloads, the extractions and the merge, so that a
    // later archive's files replace an earlier one's.
    std::vector<PlannedArchive> archives;
    bool cumulativePatchPresent = false;
};

// The entries the client lacks, newest first: without a local version the eight newest ordinary
// entries; else the newest full package of the next minor version alone, or failing that every
// ordinary entry newer than the local version.
std::vector<PatchEntry> SelectDownloads(const std::vector<PatchEntry>& patchList,
                                        const std::wstring& localVersion);

// Adds an archive at the end of the plan, renamed where its file or folder name is taken (see
// PlanDownloads), with its paths in TmpPatch.
void AppendToPlan(RepairPlan& plan, PlannedArchive archive);

// The plan of the chosen entries' archives, oldest first. Entries of the same version, or whose
// addresses end in the same file name, each keep a file and a folder of their own: the later one's
// name gets " (2)", " (3)"... Names that are no plain name in TmpPatch stay as they are, for the
// stages to refuse.
RepairPlan PlanDownloads(std::vector<PatchEntry> downloads, const ArchiveHashes& hashes);

// The cumulative patch of the newest entry's release line, in the newest entry's folder on the
// server: "patch" + its version up to the last "." + ".1" + ".qx.all.win32". Its paths in TmpPatch
// are set when it is appended to the plan (AppendToPlan), once the server was found to have it.
PlannedArchive PlanCumulativePatch(const PatchEntry& newest, const ArchiveHashes& hashes);
