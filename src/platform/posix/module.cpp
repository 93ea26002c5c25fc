// Where the program runs: GetModuleFileNameW, GetCurrentDirectoryW, GetSystemDirectoryW, and the
// small process facts Sleep and GetCurrentProcessId.
#include "module.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cwctype>
#include <thread>

#include "errors.h"
#include "host_path.h"

namespace qx {

DWORD CopyOutOrNeeded(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr || text.size() + 1 > size) {
        return static_cast<DWORD>(text.size() + 1);
    }
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
    if (length < 0) {
        return "";
    }
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
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD GetCurrentProcessId(void) {
    return static_cast<DWORD>(::getpid());
}

// ---- LoadLibraryW / GetProcAddress / FreeLibrary -------------------------------------------
// Only "Kernel32.DLL" exists, and only for the Toolhelp functions the program looks up at run
// time; the module handle is the address of a private marker.

namespace {

char g_kernel32Marker;

// Through void(*)(), the generic function pointer type, as GetProcAddress callers cast back.
template <typename F>
FARPROC AsFarProc(F* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

HMODULE Kernel32() {
    return reinterpret_cast<HMODULE>(&g_kernel32Marker);
}

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
    if (a.size() != std::wcslen(b)) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::wstring name = lpLibFileName;
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    if (EqualsIgnoringCase(name, L"kernel32.dll") || EqualsIgnoringCase(name, L"kernel32")) {
        return Kernel32();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule != Kernel32()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // An ordinal (a "name" below 0x10000) names nothing here.
    if (lpProcName != nullptr && reinterpret_cast<uintptr_t>(lpProcName) > 0xFFFF) {
        std::string name = lpProcName;
        if (name == "CreateToolhelp32Snapshot") {
            return AsFarProc(&CreateToolhelp32Snapshot);
        }
        if (name == "Process32FirstW") {
            return AsFarProc(&Process32FirstW);
        }
        if (name == "Process32NextW") {
            return AsFarProc(&Process32NextW);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (hLibModule != Kernel32()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
