// Shared pieces of the Win32 behaviour tests: a temp folder with host-side helpers that work the
// same on Linux and on Windows (std::filesystem), so one test source checks our Linux layer and
// real Win32 (under Wine) against the same expectations.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace qxtest {

class Win32Folder : public ::testing::Test {
  protected:
    // Paths are UTF-8 text; on Windows only u8path reads them as such.
    std::filesystem::path Host(const std::string& relative) const {
        return std::filesystem::u8path(dir_.host(relative));
    }
    std::wstring Win(const std::string& relative) const { return dir_.win(relative); }

    void Write(const std::string& relative, const std::string& content) {
        WriteHostFile(dir_.host(relative), content);
    }
    std::string Read(const std::string& relative) const {
        return ReadHostFile(dir_.host(relative));
    }
    void MakeFolder(const std::string& relative) {
        std::filesystem::create_directories(Host(relative));
    }
    // Read-only is the owner write bit on Linux and the read-only attribute on Windows; the
    // standard library maps one to the other.
    void SetReadOnly(const std::string& relative, bool readOnly) {
        std::filesystem::permissions(
            Host(relative),
            std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                std::filesystem::perms::others_write,
            readOnly ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add);
    }

    TempDir dir_;
};

// A handle closed at the end of its scope (INVALID_HANDLE_VALUE and null mean none).
class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Close() {
        if (Valid())
            CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_;
};

}  // namespace qxtest
