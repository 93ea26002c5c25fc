// Temporary folders and file helpers for the tests (host side, std::filesystem). On Windows the
// "host" path is the native path in UTF-8, which std::filesystem reads as UTF-8 there too.
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "fsutil/text.h"
#ifndef _WIN32
#include "platform/posix/host_path.h"
#endif

namespace fs = std::filesystem;

namespace qxtest {
namespace {

// Makes every folder and file below root writable again, without following links, so that
// remove_all can empty read-only folders.
void MakeWritable(const std::string& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec)) {
            continue;
        }
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        ec.clear();
    }
}

// A new folder "qxtest-<random>" under the system's temp folder ($TMPDIR, else /tmp; on Windows
// GetTempPathW), private to the user as mkdtemp makes it, returned as UTF-8 text.
std::string MakeUniqueFolder() {
    // One generator per thread, so that no lock is needed; a name taken already is retried.
    thread_local std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder = base / ("qxtest-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(folder, ec)) {
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
            return fs::canonical(folder).u8string();
        }
        if (ec) {
            throw fs::filesystem_error("cannot create a temp folder", folder, ec);
        }
    }
    throw std::runtime_error("cannot create a temp folder under " + base.u8string());
}

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

#ifdef _WIN32
std::wstring WinPath(const std::string& hostPath) {
    std::wstring path = fs::u8path(hostPath).wstring();
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}
#else
std::wstring WinPath(const std::string& hostPath) {
    return qx::ToWindowsPath(hostPath);
}
#endif

std::string NarrowWinPath(const std::string& hostPath) {
    std::string narrow;
    return WideToAnsi(WinPath(hostPath), narrow);
}

void WriteHostFile(const std::string& path, const std::string& content) {
    fs::path file = fs::u8path(path);  // a narrow file name would take the code page on Windows
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
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
