// The patch-list document: its parser into PatchEntry records and header values, the order of
// the records, and the process-wide list that start-up fills and every later stage reads.
#include "patchlist/patch_list.h"

#include <algorithm>
#include <utility>

#include "fsutil/text.h"
#include "patchlist/version.h"
#include "platform/win32.h"

std::vector<PatchEntry> g_patchList;
std::map<std::wstring, std::wstring> g_patchListHeaders;

namespace {

// A patch line needs version, address, number and info.
constexpr size_t kMinPatchTokens = 4;
// Version text that marks a full-package line (compared as text, not as numbers).
const wchar_t kFullPackageVersion[] = L"0.0.0";

// "#key value": the key runs to the first blank, the value is everything after it.
void ReadHeaderLine(const std::wstring& line) {
    const size_t blank = line.find(L' ');
    if (blank == std::wstring::npos) {
        return;
    }
    g_patchListHeaders[line.substr(1, blank - 1)] = line.substr(blank + 1);
}

// Token n (1-based), or empty when the line is shorter.
std::wstring TokenOrEmpty(const std::vector<std::wstring>& tokens, size_t n) {
    return tokens.size() >= n ? tokens[n - 1] : std::wstring();
}

void ReadPatchLine(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    SplitString(line, L" ", tokens);
    if (tokens.size() < kMinPatchTokens) {
        return;
    }
    PatchEntry entry;
    entry.version = tokens[0];
    entry.url = tokens[1];
    entry.number = _wtoi(tokens[2].c_str());
    entry.info = tokens[3];
    if (entry.version == kFullPackageVersion) {
        entry.packageVersion = TokenOrEmpty(tokens, 6);
        entry.packageInfo = TokenOrEmpty(tokens, 7);
    }
    g_patchList.push_back(std::move(entry));
}

}  // namespace

bool ParsePatchList(const std::wstring& document) {
    std::vector<std::wstring> lines;
    SplitString(document, L"\n", lines);
    for (std::wstring& line : lines) {
        TrimLeft(line);
        TrimRight(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == L'#') {
            ReadHeaderLine(line);
        } else {
            ReadPatchLine(line);
        }
    }
    return true;
}

bool ComparePatchEntries(const PatchEntry& a, const PatchEntry& b) {
    return CompareVersions(a.version, b.version) < 0;
}

void SortPatchList() {
    // A version that does not parse compares equal to every other one, so the predicate is not
    // a strict weak ordering. A merge sort only ever compares elements inside its runs and never
    // relies on sentinels, so it stays within the list whatever the predicate answers.
    std::stable_sort(g_patchList.begin(), g_patchList.end(), ComparePatchEntries);
}
