// Where the program runs: GetModuleFileNameW, GetCurrentDirectoryW, GetSystemDirectoryW, and the
// small process facts Sleep and GetCurrentProcessId.
#include "module.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <thread>

#include "errors.h"
#include "host_path.h"

namespace qx {

DWORD CopyOutOrNeeded(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr || text.size() + 1 > size)
        return static_cast<DWORD>(text.size() + 1);
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

DWORD CopyOutTruncating(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() + 1 > size) {
        std::wmemcpy(buffer, text.c_str(), size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
}

}  // namespace qx

namespace {

// The target of a /proc link ("" with errno on failure).
std::string ReadLink(const char* path) {
    std::string target(4096, '\0');
    ssize_t length = ::readlink(path, &target[0], target.size());
    if (length < 0)
        return "";
    target.resize(static_cast<size_t>(length));
    return target;
}

}  // namespace

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr && hModule != qx::MainInstance()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string exe = ReadLink("/proc/self/exe");
    if (exe.empty()) {
        qx::SetLastErrorFromErrno(errno);
        return 0;
    }
    return qx::CopyOutTruncating(qx::ToWindowsPath(exe), lpFilename, nSize);
}

DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    std::string cwd(4096, '\0');
    if (::getcwd(&cwd[0], cwd.size()) == nullptr) {
        qx::SetLastErrorFromErrno(errno);
        return 0;
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return qx::CopyOutOrNeeded(qx::ToWindowsPath(cwd), lpBuffer, nBufferLength);
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return qx::CopyOutOrNeeded(L"C:\\windows\\system32", lpBuffer, uSize);
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD GetCurrentProcessId(void) {
    return static_cast<DWORD>(::getpid());
}
