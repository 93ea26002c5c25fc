// Windows-form path <-> host path translation (drive mapping and separators).
#include "host_path.h"

#include <sys/stat.h>

#include <mutex>
#include <set>

#include "codepage.h"
#include "win32_posix.h"

namespace qx {
namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool HasDrive(const std::wstring& path) {
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// C:\ always exists on Windows, so the prefix's drive folder is made on first use, as Wine makes
// its prefix. Remembers the folders already made, so the common case is one look-up.
void EnsureFolderExists(const std::string& folder) {
    static std::mutex lock;
    static std::set<std::string> made;
    std::lock_guard<std::mutex> guard(lock);
    if (made.count(folder) != 0) {
        return;
    }
    for (size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1)) {
        ::mkdir(folder.substr(0, at).c_str(), 0755);
    }
    ::mkdir(folder.c_str(), 0755);
    made.insert(folder);
}

// The host folder a drive letter stands for, or false for a drive that does not exist.
bool DriveRoot(wchar_t letter, std::string* root) {
    wchar_t upper = letter >= L'a' ? static_cast<wchar_t>(letter - L'a' + L'A') : letter;
    if (upper == L'Z') {
        *root = "";
        return true;
    }
    if (upper == L'C') {
        *root = PrefixFolder() + "/drive_c";
        EnsureFolderExists(*root);
        return true;
    }
    return false;
}

// Converts separators to '/' and collapses runs of them into one.
std::string JoinedWithSlashes(const std::wstring& rest) {
    std::wstring out;
    out.reserve(rest.size());
    for (wchar_t c : rest) {
        if (IsSeparator(c)) {
            if (out.empty() || out.back() != L'/') {
                out += L'/';
            }
        } else {
            out += c;
        }
    }
    return WideToUtf8(out);
}

}  // namespace

std::string PrefixFolder() {
    const char* prefix = std::getenv("QXWEB_PREFIX");
    if (prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.qxwebhelper";
}

bool ToHostPath(const std::wstring& windowsPath, std::string* hostPath) {
    std::wstring path = windowsPath;
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        path.erase(0, 4);
    }
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!HasDrive(path)) {
        *hostPath = JoinedWithSlashes(path);  // "\a" keeps its leading slash: the root of Z:
        return true;
    }
    std::string root;
    if (!DriveRoot(path[0], &root)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    // "C:", "C:\" and "C:a" all name places under the drive's root.
    std::string rest = JoinedWithSlashes(L"\\" + path.substr(2));
    if (rest == "/" && !root.empty()) {
        rest.clear();
    }
    *hostPath = root + rest;
    return true;
}

bool VolumeRoot(const std::wstring& windowsPath, std::string* root) {
    if (windowsPath.size() != 6 || windowsPath.compare(0, 4, L"\\\\.\\") != 0 ||
        !HasDrive(windowsPath.substr(4)) || !DriveRoot(windowsPath[4], root)) {
        return false;
    }
    if (root->empty()) {
        *root = "/";
    }
    return true;
}

bool ToHostPath(const char* windowsPath, std::string* hostPath) {
    if (windowsPath == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return ToHostPath(AnsiCodePageToWide(windowsPath), hostPath);
}

std::wstring ToWindowsPath(const std::string& hostPath) {
    std::wstring path = Utf8ToWide(hostPath);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (!path.empty() && path[0] == L'\\') {
        path.insert(0, L"Z:");
    }
    return path;
}

std::string WithoutTrailingSlashes(const std::string& hostPath) {
    std::string path = hostPath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string LastComponent(const std::string& hostPath) {
    std::string path = WithoutTrailingSlashes(hostPath);
    if (path == "/") {
        return "";
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentFolder(const std::string& hostPath) {
    std::string path = WithoutTrailingSlashes(hostPath);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace qx
