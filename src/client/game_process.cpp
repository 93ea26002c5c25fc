// Finding the game clients that run from the client folder, so that start-up can end them before
// their files are replaced. Two listings: the Toolhelp snapshot (looked up at run time, since it
// may be missing) and the process-status functions as the fallback.
#include "client/game_process.h"

#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/client_files.h"
#include "platform/owners.h"
#include "platform/win32.h"

typedef HANDLE(WINAPI* CreateToolhelp32SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* Process32FirstWFn)(HANDLE, LPPROCESSENTRY32W);
typedef BOOL(WINAPI* Process32NextWFn)(HANDLE, LPPROCESSENTRY32W);

CreateToolhelp32SnapshotFn g_pfnCreateToolhelp32Snapshot = nullptr;
Process32FirstWFn g_pfnProcess32FirstW = nullptr;
Process32NextWFn g_pfnProcess32NextW = nullptr;
bool g_toolhelpResolved = false;

namespace {

const DWORD kInspectAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
const DWORD kSnapshotPathChars = 256;
const DWORD kEnumPathChars = 260;
const DWORD kMaxEnumProcesses = 4096;
const DWORD kTerminateWaitMs = 500;

// A process handle of the termination loop, closed through the loop's own close call on every way
// out of an iteration.
struct ControlledProcessTraits {
    using Value = HANDLE;
    const ProcessControl* ops = nullptr;

    static Value Invalid() { return nullptr; }
    static bool IsValid(Value process) { return process != nullptr; }
    bool Close(Value process) const { return ops->closeHandle(process) != FALSE; }
};
using ControlledProcess = UniqueResource<ControlledProcessTraits>;

// GetProcAddress gives a generic function pointer; the detour through void(*)() states that
// the conversion to the real signature is intended.
template <typename Fn>
Fn ProcAs(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

std::wstring FoldForCompare(const std::wstring& text) {
    return NormalizeSlashes(ToLowerAscii(text));
}

// The executable's folder marks a real client: the game's library lies beside it, or the
// folder is one of the client's "bin" folders.
bool LooksLikeClientFolder(const std::wstring& directory) {
    return PathExists(JoinPath(directory, kGameLibraryName)) ||
           directory.find(L"bin") != std::wstring::npos;
}

// The game-process rule. `snapshotName` is the snapshot's own name for the executable, or null
// when the name is to be taken from the path.
bool IsGameProcess(DWORD pid, DWORD ownPid, const std::wstring& folder,
                   const std::wstring* snapshotName, DWORD pathChars) {
    if (pid == ownPid) {
        return false;
    }
    const UniqueHandle process(OpenProcess(kInspectAccess, FALSE, pid));
    if (!process.valid()) {
        return false;
    }

    std::wstring path(pathChars, L'\0');
    const DWORD length = GetModuleFileNameExW(process.get(), nullptr, &path[0], pathChars);
    if (length == 0) {
        return false;
    }
    path.resize(wcsnlen(path.c_str(), pathChars));
    if (path.empty()) {
        return false;
    }

    if (!IsPathInFolder(path, folder)) {
        return false;
    }
    const std::wstring name = snapshotName ? *snapshotName : AfterLast(path, L'\\');
    if (name != kGameExecutableName) {
        return false;
    }
    return LooksLikeClientFolder(FolderOf(path));
}

}  // namespace

bool LoadToolhelpFunctions() {
    if (!g_toolhelpResolved) {
        HMODULE kernel = LoadLibraryW(L"Kernel32.DLL");
        if (kernel) {
            g_pfnCreateToolhelp32Snapshot = ProcAs<CreateToolhelp32SnapshotFn>(
                GetProcAddress(kernel, "CreateToolhelp32Snapshot"));
            g_pfnProcess32FirstW =
                ProcAs<Process32FirstWFn>(GetProcAddress(kernel, "Process32FirstW"));
            g_pfnProcess32NextW =
                ProcAs<Process32NextWFn>(GetProcAddress(kernel, "Process32NextW"));
            FreeLibrary(kernel);
        }
        g_toolhelpResolved = true;
    }
    return g_pfnCreateToolhelp32Snapshot && g_pfnProcess32FirstW && g_pfnProcess32NextW;
}

bool IsPathInFolder(const std::wstring& path, const std::wstring& folder) {
    const std::wstring foldedPath = FoldForCompare(path);
    std::wstring foldedFolder = FoldForCompare(folder);
    if (foldedFolder.empty() || foldedFolder.back() != L'\\') {
        foldedFolder += L'\\';
    }
    if (foldedFolder.size() >= 2 &&
        foldedFolder.compare(foldedFolder.size() - 2, 2, L"\\\\") == 0) {
        foldedFolder.pop_back();
    }
    return foldedPath.compare(0, foldedFolder.size(), foldedFolder) == 0;
}

bool FindGameProcessesBySnapshot(const std::wstring& folder, std::vector<uint32_t>& pids) {
    if (!LoadToolhelpFunctions()) {
        return false;
    }
    pids.clear();
    const DWORD ownPid = GetCurrentProcessId();

    const UniqueHandle snapshot(g_pfnCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return false;
    }

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!g_pfnProcess32FirstW(snapshot.get(), &entry)) {
        return false;
    }
    do {
        const std::wstring exeName(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH));
        if (IsGameProcess(entry.th32ProcessID, ownPid, folder, &exeName, kSnapshotPathChars)) {
            pids.push_back(entry.th32ProcessID);
        }
    } while (g_pfnProcess32NextW(snapshot.get(), &entry));
    return true;
}

bool FindGameProcessesByEnum(const std::wstring& folder, std::vector<uint32_t>& pids) {
    const DWORD ownPid = GetCurrentProcessId();
    pids.clear();

    std::vector<DWORD> ids(kMaxEnumProcesses);
    DWORD bytesReturned = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)),
                       &bytesReturned)) {
        return false;
    }
    const size_t count = bytesReturned / sizeof(DWORD);
    for (size_t i = 0; i < count && i < ids.size(); ++i) {
        if (IsGameProcess(ids[i], ownPid, folder, nullptr, kEnumPathChars)) {
            pids.push_back(ids[i]);
        }
    }
    return true;
}

const ProcessControl& SystemProcessControl() {
    static const ProcessControl system = {OpenProcess, TerminateProcess, WaitForSingleObject,
                                          CloseHandle};
    return system;
}

size_t TerminateGameProcesses(const std::vector<uint32_t>& pids, const ProcessControl& ops) {
    size_t ended = 0;
    for (uint32_t pid : pids) {
        const ControlledProcess process(
            ops.openProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid),
            ControlledProcessTraits{&ops});
        if (!process) {
            continue;  // gone or not ours: counted as not ended, the next is tried
        }
        // A process that refuses to end, or outlives the wait, stops the loop: the later ones
        // are left running.
        if (!ops.terminateProcess(process.get(), 0)) {
            break;
        }
        const DWORD waited = ops.waitForSingleObject(process.get(), kTerminateWaitMs);
        printf("terminate process wait for project failed, dw = %d\n", static_cast<int>(waited));
        if (waited != WAIT_OBJECT_0) {
            break;
        }
        ++ended;
    }
    return ended;
}
