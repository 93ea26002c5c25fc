// One record of the patch list.
#pragma once

#include <cstdint>
#include <string>

struct PatchEntry {
    std::wstring version;
    std::wstring url;
    std::wstring info;
    int32_t number = 0;
    std::wstring packageVersion;
    std::wstring packageInfo;

    bool operator==(const PatchEntry& other) const {
        return version == other.version && url == other.url && info == other.info &&
               number == other.number && packageVersion == other.packageVersion &&
               packageInfo == other.packageInfo;
    }
};
