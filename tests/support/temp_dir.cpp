// Temporary folders and file helpers for the tests (host side, std::filesystem). On Windows the
// "host" path is the native path in UTF-8, which std::filesystem reads as UTF-8 there too.
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace qxtest {
namespace {

// Makes every folder and file below root writable again, without following links, so that
// remove_all can empty read-only folders.
void MakeWritable(const std::string& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec))
            continue;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        ec.clear();
    }
}

#ifdef _WIN32
// A new folder "qxtest-<n>" under the user's temp folder (GetTempPathW), in UTF-8.
std::string MakeUniqueFolder() {
    wchar_t base[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("GetTempPathW failed");
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        fs::path folder = fs::path(base) / ("qxtest-" + std::to_string(GetCurrentProcessId()) +
                                            "-" + std::to_string(GetTickCount() + attempt));
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return fs::canonical(folder).string();
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("cannot create a temp folder");
}

std::wstring Widen(const std::string& utf8) {
    return fs::u8path(utf8).wstring();
}
#else
std::string MakeUniqueFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/qxtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return fs::canonical(buffer.data()).string();
}

std::wstring Widen(const std::string& utf8) {
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out += static_cast<wchar_t>(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}
#endif

}  // namespace

TempDir::TempDir() : host_(MakeUniqueFolder()) {}

TempDir::~TempDir() {
    MakeWritable(host_);
    std::error_code ec;
    fs::remove_all(host_, ec);
}

std::wstring TempDir::win() const {
    return WinPath(host_);
}

std::wstring TempDir::win(const std::string& relative) const {
    return WinPath(host(relative));
}

std::wstring WinPath(const std::string& hostPath) {
    std::wstring path = Widen(hostPath);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path.empty() || path[0] != L'\\' ? path : L"Z:" + path;
}

void WriteHostFile(const std::string& path, const std::string& content) {
    fs::path file = fs::u8path(path);  // a narrow file name would take the code page on Windows
    if (file.has_parent_path())
        fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::map<std::string, std::string> SnapshotTree(const std::string& root) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::string relative = fs::relative(it->path(), root).generic_string();
        if (it->is_symlink()) {
            tree[relative] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] = ReadHostFile(it->path().string());
        }
    }
    return tree;
}

}  // namespace qxtest
