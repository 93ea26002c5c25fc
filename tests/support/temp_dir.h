// qxtest::TempDir, a fresh host folder per test that removes itself (read-only content too), and
// small helpers to write and read host files and to snapshot a tree for whole-tree comparisons.
#pragma once

#include <map>
#include <string>

namespace qxtest {

class TempDir {
  public:
    TempDir();  // a new folder under the system's temp folder ($TMPDIR, else /tmp)
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& host() const { return host_; }  // "/tmp/qxtest-Ab12Cd"
    std::wstring win() const;                          // L"Z:\\tmp\\qxtest-Ab12Cd"
    std::string host(const std::string& relative) const { return host_ + "/" + relative; }
    std::wstring win(const std::string& relative) const;  // '/' in relative becomes '\'

  private:
    std::string host_;
};

// Host path -> the program's form of it: "Z:\..." on Linux, the native path on Windows.
std::wstring WinPath(const std::string& hostPath);
// The same in the system code page, as the program hands it to fopen and minizip.
std::string NarrowWinPath(const std::string& hostPath);

// Writes the file (binary), creating its missing parent folders.
void WriteHostFile(const std::string& path, const std::string& content);
// The whole file, or "" when it cannot be read.
std::string ReadHostFile(const std::string& path);

// Every entry below root, keyed by its relative path with '/': files map to their content,
// folders ("sub/") to "", symbolic links to "-> target".
std::map<std::string, std::string> SnapshotTree(const std::string& root);

}  // namespace qxtest
