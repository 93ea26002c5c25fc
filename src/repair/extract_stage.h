// Unpacking every downloaded archive into a folder of its own in the temporary folder.
#pragma once

#include <vector>

#include "patchlist/patch_entry.h"

struct FileFailure;

// Unpacks every archive; false when one failed, with its failing call in `failure` (when given).
bool ExtractPatches(const std::vector<PatchEntry>& downloads, FileFailure* failure = nullptr);
int ExtractProgress(int reserved, int filesWritten, int fileCount);
