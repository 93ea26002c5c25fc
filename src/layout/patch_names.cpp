// Names derived from patch-list entries, shared by the download, extraction and merge stages and
// the layout's cumulative folder.
#include "layout/patch_names.h"

#include "fsutil/text.h"

std::wstring ArchiveFileName(const std::wstring& url) {
    return AfterLast(url, L'/');
}

std::wstring CumulativePatchVersion(const std::wstring& newestVersion) {
    return BeforeLast(newestVersion, L'.') + L".1";
}

std::wstring CumulativePatchName(const std::wstring& newestVersion) {
    return L"patch" + CumulativePatchVersion(newestVersion) + L".qx.all.win32";
}

std::wstring CumulativeFolderName(const std::wstring& newestVersion) {
    return L"patch" + CumulativePatchVersion(newestVersion);
}
