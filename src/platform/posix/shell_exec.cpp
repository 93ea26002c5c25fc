// ShellExecuteExW: starts a program (a Windows-form path, or a bare name found on PATH) with its
// parameters split as Windows splits a command line, in the given working folder, and records the
// attempt in the transcript exactly as the program asked for it.
#include "shell_exec.h"

#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "errors.h"
#include "host_path.h"
#include "process.h"
#include "syscalls.h"
#include "transcript.h"

extern char** environ;

namespace qx {
namespace ui {
namespace {

// What ShellExecuteExW leaves in hInstApp: a value above 32 on success, else an SE_ERR code.
constexpr uintptr_t kStarted = 42;
constexpr uintptr_t kSeErrFileNotFound = 2;  // SE_ERR_FNF
constexpr uintptr_t kSeErrAccessDenied = 5;  // SE_ERR_ACCESSDENIED

uintptr_t InstanceResult(bool started, DWORD error) {
    if (started) {
        return kStarted;
    }
    return error == ERROR_ACCESS_DENIED ? kSeErrAccessDenied : kSeErrFileNotFound;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// One argument starting at `i`; `i` ends after it.
std::wstring NextArgument(const std::wstring& line, size_t& i) {
    std::wstring arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
        if (line[i] == L'\\') {
            size_t end = line.find_first_not_of(L'\\', i);
            size_t count = (end == std::wstring::npos ? line.size() : end) - i;
            if (end != std::wstring::npos && line[end] == L'"') {
                arg.append(count / 2, L'\\');
                if (count % 2 == 1) {
                    arg += L'"';
                    i = end + 1;
                } else {
                    i = end;  // the quote itself opens or closes quoting
                }
            } else {
                arg.append(count, L'\\');
                i += count;
            }
        } else if (line[i] == L'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                arg += L'"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            arg += line[i++];
        }
    }
    return arg;
}

bool IsBareName(const std::wstring& file) {
    return file.find_first_of(L"\\/:") == std::wstring::npos;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

// The first executable `name` in the folders of PATH.
bool FindOnPath(const std::string& name, std::string* found) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t colon = folders.find(':', start);
        std::string folder = folders.substr(start, colon - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (IsExecutableFile(candidate)) {
            *found = candidate;
            return true;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

// The host path of the program to start; false with the last error set when there is none that
// can run: missing (FILE/PATH_NOT_FOUND), a folder or without execute permission (ACCESS_DENIED).
bool ResolveProgram(const std::wstring& file, std::string* program) {
    if (IsBareName(file)) {
        return FindOnPath(ToUtf8(file), program);
    }
    if (!ToHostPath(file, program)) {
        return false;
    }
    struct stat st {};
    if (::stat(program->c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno, *program);
        return false;
    }
    if (!IsExecutableFile(*program)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool ResolveFolder(const wchar_t* directory, std::string* folder) {
    folder->clear();
    if (directory == nullptr || *directory == L'\0') {
        return true;  // the current folder
    }
    struct stat st {};
    if (!ToHostPath(std::wstring(directory), folder) || ::stat(folder->c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

// Starts the child with a clean slate: no inherited descriptors beyond the standard three,
// default signal handling and an empty signal mask.
bool Spawn(const std::string& program, const std::vector<std::string>& args,
           const std::string& folder, pid_t* pid) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    int err = ::posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (err != 0) {
        SetLastErrorFromErrno(err);
        return false;
    }
    return true;
}

// Nobody will wait for the child: reap it when it ends, so it leaves no zombie behind.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        sys::RetryInterrupted([&] { return ::waitpid(pid, &status, 0); });
    }).detach();
}

bool IsOpenVerb(const wchar_t* verb) {
    return verb == nullptr || *verb == L'\0' || strcasecmp(ToUtf8(verb).c_str(), "open") == 0;
}

bool Execute(SHELLEXECUTEINFOW& info) {
    if (!IsOpenVerb(info.lpVerb)) {
        SetLastError(ERROR_NO_ASSOCIATION);
        return false;
    }
    if (info.lpFile == nullptr || *info.lpFile == L'\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::string program;
    std::string folder;
    if (!ResolveProgram(info.lpFile, &program) || !ResolveFolder(info.lpDirectory, &folder)) {
        return false;
    }
    std::vector<std::string> args;
    for (const std::wstring& arg : SplitCommandLine(info.lpParameters ? info.lpParameters : L"")) {
        args.push_back(ToUtf8(arg));
    }
    pid_t pid = 0;
    if (!Spawn(program, args, folder, &pid)) {
        return false;
    }
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS) {
        info.hProcess = MakeProcessHandle(pid, true);
    } else {
        ReapInBackground(pid);
    }
    return true;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> args;
    size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            return args;
        }
        args.push_back(NextArgument(line, i));
    }
}

}  // namespace ui
}  // namespace qx

// Only the verb "open" (or none) is known. hInstApp follows Win32: above 32 on success, an SE_ERR
// code on failure. The transcript gets the file, parameters and folder as the program passed them
// (a null parameter string or folder is recorded as "").
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
    if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pExecInfo->hProcess = nullptr;
    const bool ok = qx::ui::Execute(*pExecInfo);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(qx::ui::InstanceResult(ok, error));
    qx::ui::RecordEvent(qx::ui::JsonLine()
                            .AddString("event", "exec")
                            .AddText("file", pExecInfo->lpFile)
                            .AddText("params", pExecInfo->lpParameters)
                            .AddText("dir", pExecInfo->lpDirectory)
                            .AddBool("ok", ok));
    SetLastError(error);
    return ok ? TRUE : FALSE;
}
