// Unpacking every downloaded archive into a folder of its own in the temporary folder.
#pragma once

#include <vector>

#include "patchlist/patch_entry.h"

bool ExtractPatches(const std::vector<PatchEntry>& downloads);
int ExtractProgress(int reserved, int filesWritten, int fileCount);
