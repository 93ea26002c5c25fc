// Names derived from patch-list entries: the archive file name of an entry and the cumulative
// patch's version and file name. Shared by the download, extraction and merge stages.
#include "repair/download_stage.h"

#include "fsutil/text.h"

std::wstring CumulativePatchVersion(const std::wstring& newestVersion) {
    return BeforeLast(newestVersion, L'.') + L".1";
}

std::wstring CumulativePatchName(const std::wstring& newestVersion) {
    return L"patch" + CumulativePatchVersion(newestVersion) + L".qx.all.win32";
}

std::wstring ArchiveFileName(const std::wstring& url) {
    return AfterLast(url, L'/');
}
