// Names derived from patch-list entries: the archive file name of an entry and the cumulative
// patch's version and file name. Shared by the download, extraction and merge stages.
#include "repair/download_stage.h"

namespace {

std::wstring BeforeLast(const std::wstring& text, wchar_t separator) {
    const std::wstring::size_type pos = text.rfind(separator);
    return pos == std::wstring::npos ? text : text.substr(0, pos);
}

}  // namespace

std::wstring CumulativePatchVersion(const std::wstring& newestVersion) {
    return BeforeLast(newestVersion, L'.') + L".1";
}

std::wstring CumulativePatchName(const std::wstring& newestVersion) {
    return L"patch" + CumulativePatchVersion(newestVersion) + L".qx.all.win32";
}

std::wstring ArchiveFileName(const std::wstring& url) {
    const std::wstring::size_type pos = url.rfind(L'/');
    return pos == std::wstring::npos ? url : url.substr(pos + 1);
}
