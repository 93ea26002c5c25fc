// libFuzzer target: the patch-list parser, its sort and the version functions on untrusted bytes.
// The bytes arrive as the server's body would: decoded from the system code page, then parsed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fsutil/text.h"
#include "patchlist/patch_list.h"
#include "patchlist/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    std::wstring document;
    AnsiToWide(body, document);

    g_patchList.clear();
    g_patchListHeaders.clear();
    ParsePatchList(document);
    SortPatchList();

    // Every pair of neighbours, and the newest against each, through both version functions.
    for (size_t i = 0; i + 1 < g_patchList.size(); ++i) {
        const PatchEntry& a = g_patchList[i];
        const PatchEntry& b = g_patchList[i + 1];
        const int forward = CompareVersions(a.version, b.version);
        const int backward = CompareVersions(b.version, a.version);
        if (forward != -backward)
            __builtin_trap();  // the comparison must be antisymmetric
        IsNextMinorVersion(a.version, b.packageVersion);
        IsNextMinorVersion(document, a.version);
    }
    return 0;
}
