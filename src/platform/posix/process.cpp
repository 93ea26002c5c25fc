// Processes from /proc: the Toolhelp snapshot, EnumProcesses, OpenProcess, GetModuleFileNameExW,
// TerminateProcess, and waiting for a process's end through its pidfd.
#include "process.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "codepage.h"
#include "errors.h"
#include "handles.h"
#include "host_path.h"
#include "module.h"
#include "syscalls.h"

namespace qx {
namespace {

// Through syscall(2): the C library's wrappers are newer than some systems we build on.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int PidfdKill(int pidfd) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
}

std::string ProcPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// The executable's host path, or "" with errno set. A replaced executable keeps its name (the
// kernel adds " (deleted)"), so a running game still counts as the game after an update.
std::string ExecutableOf(pid_t pid) {
    std::string target(4096, '\0');
    ssize_t length = ::readlink(ProcPath(pid, "exe").c_str(), &target[0], target.size());
    if (length < 0) {
        return "";
    }
    target.resize(static_cast<size_t>(length));
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

// True when the process has ended (gone, or a zombie waiting for its parent).
bool HasEnded(pid_t pid) {
    std::ifstream stat(ProcPath(pid, "stat"));
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    size_t paren = line.rfind(')');
    return paren == std::string::npos || paren + 2 >= line.size() || line[paren + 2] == 'Z' ||
           line[paren + 2] == 'X';
}

class ProcessHandle : public HandleObject {
  public:
    ProcessHandle(pid_t pid, int pidfd, bool child) : pid_(pid), pidfd_(pidfd), child_(child) {}
    ~ProcessHandle() override {
        if (child_) {
            Reap();
        }
        if (pidfd_ >= 0) {
            ::close(pidfd_);
        }
    }

    pid_t Pid() const { return pid_; }

    DWORD Wait(DWORD milliseconds) override {
        bool ended = pidfd_ >= 0 ? WaitOnPidfd(milliseconds) : WaitByPolling(milliseconds);
        if (!ended) {
            return WAIT_TIMEOUT;
        }
        if (child_) {
            Reap();
        }
        return WAIT_OBJECT_0;
    }

    bool Kill() {
        int result = pidfd_ >= 0 ? PidfdKill(pidfd_) : ::kill(pid_, SIGKILL);
        if (result == 0) {
            return true;
        }
        SetLastErrorFromErrno(errno, std::string(), FailedCall::KillProcess);
        return false;
    }

  private:
    // The pidfd becomes readable when the process ends, before anyone reaps it.
    bool WaitOnPidfd(DWORD milliseconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            int timeout = -1;
            if (milliseconds != INFINITE) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
            }
            pollfd entry{pidfd_, POLLIN, 0};
            int ready = ::poll(&entry, 1, timeout);
            if (ready > 0) {
                return true;
            }
            if (ready < 0 && errno != EINTR) {
                return HasEnded(pid_);
            }
            if (ready == 0 && timeout != -1 && std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
    }

    // Without pidfds (old kernels): look at /proc every few milliseconds.
    bool WaitByPolling(DWORD milliseconds) {
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (HasEnded(pid_)) {
                return true;
            }
            auto waited = std::chrono::steady_clock::now() - start;
            if (milliseconds != INFINITE && waited >= std::chrono::milliseconds(milliseconds)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    void Reap() {
        if (reaped_) {
            return;
        }
        int status = 0;
        pid_t result = ::waitpid(pid_, &status, WNOHANG);
        if (result == pid_ || (result < 0 && errno == ECHILD)) {
            reaped_ = true;
        }
    }

    pid_t pid_;
    int pidfd_;
    bool child_;
    std::atomic<bool> reaped_{false};  // two threads may wait on one handle
};

class SnapshotHandle : public HandleObject {
  public:
    explicit SnapshotHandle(std::vector<PROCESSENTRY32W> entries) : entries_(std::move(entries)) {}

    bool Copy(size_t index, LPPROCESSENTRY32W entry) {
        if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W)) {
            SetLastError(ERROR_BAD_LENGTH);
            return false;
        }
        if (index >= entries_.size()) {
            SetLastError(ERROR_NO_MORE_FILES);
            return false;
        }
        *entry = entries_[index];
        next_ = index + 1;
        return true;
    }
    size_t NextIndex() const { return next_; }

  private:
    std::vector<PROCESSENTRY32W> entries_;
    size_t next_ = 0;
};

// The pids in /proc, ascending.
std::vector<pid_t> ListPids() {
    std::vector<pid_t> pids;
    UniqueDir proc(::opendir("/proc"));
    if (!proc) {
        return pids;
    }
    while (struct dirent* entry = ::readdir(proc.get())) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && pid > 0) {
            pids.push_back(static_cast<pid_t>(pid));
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// One snapshot entry; false when the process ended meanwhile.
bool DescribeProcess(pid_t pid, PROCESSENTRY32W* entry) {
    std::ifstream stat(ProcPath(pid, "stat"));
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    size_t paren = line.rfind(')');
    size_t open = line.find('(');
    if (paren == std::string::npos || open == std::string::npos) {
        return false;
    }
    // After ") ": state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
    // stime cutime cstime priority nice num_threads ...
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = paren + 2; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += line[i];
        }
    }
    if (fields.size() < 18) {
        return false;
    }
    *entry = PROCESSENTRY32W{};
    entry->dwSize = sizeof(PROCESSENTRY32W);
    entry->th32ProcessID = static_cast<DWORD>(pid);
    entry->th32ParentProcessID = static_cast<DWORD>(std::strtoul(fields[1].c_str(), nullptr, 10));
    entry->cntThreads = static_cast<DWORD>(std::strtoul(fields[17].c_str(), nullptr, 10));
    entry->pcPriClassBase = 8;  // "normal"
    // Kernel threads and processes we may not inspect have no readable executable: their
    // command name stands in, as Windows shows names like "System".
    std::string exe = ExecutableOf(pid);
    std::string name = exe.empty() ? line.substr(open + 1, paren - open - 1) : LastComponent(exe);
    std::wstring wide = Utf8ToWide(name).substr(0, MAX_PATH - 1);
    std::wmemcpy(entry->szExeFile, wide.c_str(), wide.size() + 1);
    return true;
}

}  // namespace

HANDLE MakeProcessHandle(pid_t pid, bool child) {
    if (pid <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int pidfd = PidfdOpen(pid);
    if (pidfd < 0 && errno != ENOSYS) {
        SetLastErrorFromErrno(errno);  // ESRCH: no such process
        return nullptr;
    }
    return AddHandle(std::make_shared<ProcessHandle>(pid, pidfd, child));
}

pid_t ProcessIdOf(HANDLE process) {
    auto handle = LookUpHandleAs<ProcessHandle>(process);
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    return handle->Pid();
}

}  // namespace qx

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
    std::vector<PROCESSENTRY32W> entries;
    if (dwFlags & TH32CS_SNAPPROCESS) {
        for (pid_t pid : qx::ListPids()) {
            PROCESSENTRY32W entry;
            if (qx::DescribeProcess(pid, &entry)) {
                entries.push_back(entry);
            }
        }
    }
    return qx::AddHandle(std::make_shared<qx::SnapshotHandle>(std::move(entries)));
}

BOOL WINAPI Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    auto snapshot = qx::LookUpHandleAs<qx::SnapshotHandle>(hSnapshot);
    return snapshot != nullptr && snapshot->Copy(0, lppe) ? TRUE : FALSE;
}

BOOL WINAPI Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    auto snapshot = qx::LookUpHandleAs<qx::SnapshotHandle>(hSnapshot);
    return snapshot != nullptr && snapshot->Copy(snapshot->NextIndex(), lppe) ? TRUE : FALSE;
}

BOOL EnumProcesses(DWORD* lpidProcess, DWORD cb, LPDWORD lpcbNeeded) {
    if (lpcbNeeded == nullptr || (lpidProcess == nullptr && cb != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<pid_t> pids = qx::ListPids();
    // Like Windows: as many as fit, and the bytes filled (a full buffer may mean more exist).
    size_t count = std::min<size_t>(pids.size(), cb / sizeof(DWORD));
    for (size_t i = 0; i < count; ++i) {
        lpidProcess[i] = static_cast<DWORD>(pids[i]);
    }
    *lpcbNeeded = static_cast<DWORD>(count * sizeof(DWORD));
    return TRUE;
}

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
    auto pid = static_cast<pid_t>(dwProcessId);
    if (dwProcessId == 0 || pid < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (::kill(pid, 0) != 0) {
        qx::SetLastErrorFromErrno(errno);  // ESRCH: a pid that does not exist
        return nullptr;
    }
    if (dwDesiredAccess & (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) {
        // Where /proc refuses to show the process, Windows would refuse to open it.
        if (qx::ExecutableOf(pid).empty() && (errno == EACCES || errno == EPERM)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    return qx::MakeProcessHandle(pid, false);
}

DWORD GetModuleFileNameExW(HANDLE hProcess, HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    pid_t pid = qx::ProcessIdOf(hProcess);
    if (pid < 0) {
        return 0;
    }
    if (hModule != nullptr || lpFilename == nullptr || nSize == 0) {
        SetLastError(hModule != nullptr ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string exe = qx::ExecutableOf(pid);
    if (exe.empty()) {
        qx::SetLastErrorFromErrno(errno, std::string(), qx::FailedCall::ReadProcessImage);
        return 0;
    }
    // psapi truncates to the buffer and returns the characters copied.
    std::wstring path = qx::ToWindowsPath(exe).substr(0, nSize - 1);
    std::wmemcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

BOOL TerminateProcess(HANDLE hProcess, UINT) {
    auto process = qx::LookUpHandleAs<qx::ProcessHandle>(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return process->Kill() ? TRUE : FALSE;
}
