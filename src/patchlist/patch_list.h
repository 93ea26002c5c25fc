// The patch list: its parser, its order, and the process-wide list it fills.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "patchlist/patch_entry.h"

extern std::vector<PatchEntry> g_patchList;
extern std::map<std::wstring, std::wstring> g_patchListHeaders;

// Appends the records of a whole document to g_patchList and its header lines to
// g_patchListHeaders. Malformed lines are skipped; always true.
bool ParsePatchList(const std::wstring& document);

// The list's ordering predicate: a's version is older than b's.
bool ComparePatchEntries(const PatchEntry& a, const PatchEntry& b);

// Sorts g_patchList ascending by version (stays inside the list when versions do not parse).
void SortPatchList();
