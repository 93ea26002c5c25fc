// The registry as a folder tree: HKEY_CLASSES_ROOT\Name is the folder
// $QXWEB_PREFIX/registry/HKEY_CLASSES_ROOT/Name. SHDeleteKeyW removes a key with everything in it.
#include <dirent.h>
#include <sys/stat.h>

#include <cwctype>
#include <string>
#include <vector>

#include "codepage.h"
#include "errors.h"
#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

const char* RootFolderName(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    return nullptr;
}

std::vector<std::wstring> SplitKeyPath(const std::wstring& subKey) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : subKey + L"\\") {
        if (c != L'\\') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    return parts;
}

bool SameKeyName(const std::string& a, const std::wstring& b) {
    std::wstring wide = Utf8ToWide(a);
    if (wide.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < b.size(); ++i) {
        if (std::towupper(wide[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return true;
}

// The folder of `name` inside `folder`: key names ignore case, as in the Windows registry.
bool FindChild(const std::string& folder, const std::wstring& name, std::string* child) {
    std::string exact = folder + "/" + WideToUtf8(name);
    struct stat info {};
    if (::lstat(exact.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *child = exact;
        return true;
    }
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) {
        return false;
    }
    while (struct dirent* entry = ::readdir(dir.get())) {
        std::string candidate = folder + "/" + entry->d_name;
        if (SameKeyName(entry->d_name, name) && ::lstat(candidate.c_str(), &info) == 0 &&
            S_ISDIR(info.st_mode)) {
            *child = candidate;
            return true;
        }
    }
    return false;
}

// Removes a folder and all it holds, without following links; the errno of the first failure.
int RemoveTree(const std::string& folder) {
    std::vector<std::string> names;
    {
        UniqueDir dir(sys::Opendir(folder.c_str()));
        if (!dir) {
            return errno;
        }
        while (struct dirent* entry = ::readdir(dir.get())) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
    }
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        struct stat info {};
        if (sys::Lstat(path.c_str(), &info) != 0) {
            return errno;
        }
        int err =
            S_ISDIR(info.st_mode) ? RemoveTree(path) : (sys::Unlink(path.c_str()) == 0 ? 0 : errno);
        if (err != 0) {
            return err;
        }
    }
    return sys::Rmdir(folder.c_str()) == 0 ? 0 : errno;
}

}  // namespace
}  // namespace qx

LONG SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey) {
    const char* root = qx::RootFolderName(hkey);
    if (root == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    std::vector<std::wstring> parts = qx::SplitKeyPath(pszSubKey != nullptr ? pszSubKey : L"");
    // Deleting a whole root is not something the program does; refuse rather than empty it.
    if (parts.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string folder = qx::PrefixFolder() + "/registry/" + root;
    for (const std::wstring& part : parts) {
        // "." and ".." would leave the key's folder; no key of that name can exist here.
        if (part == L"." || part == L".." || part.find(L'/') != std::wstring::npos ||
            !qx::FindChild(folder, part, &folder)) {
            return ERROR_FILE_NOT_FOUND;
        }
    }
    int err = qx::RemoveTree(folder);
    return err == 0 ? ERROR_SUCCESS : static_cast<LONG>(qx::Win32ErrorFromErrno(err, folder));
}
