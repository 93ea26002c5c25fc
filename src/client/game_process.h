// Finding game clients started from the client folder, in two interchangeable ways.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

bool LoadToolhelpFunctions();
bool FindGameProcessesBySnapshot(const std::wstring& folder, std::vector<uint32_t>& pids);
bool FindGameProcessesByEnum(const std::wstring& folder, std::vector<uint32_t>& pids);
bool IsPathInFolder(const std::wstring& path, const std::wstring& folder);

// The process calls the termination loop makes; tests substitute their own.
struct ProcessControl {
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD pid);
    BOOL(WINAPI* terminateProcess)(HANDLE process, UINT exitCode);
    DWORD(WINAPI* waitForSingleObject)(HANDLE handle, DWORD milliseconds);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
};
const ProcessControl& SystemProcessControl();

// Ends the listed processes one by one, in list order, and returns how many ended. An id that
// cannot be opened is passed over; a failed termination, or a process still alive 500 ms after
// it, stops the loop.
size_t TerminateGameProcesses(const std::vector<uint32_t>& pids,
                              const ProcessControl& ops = SystemProcessControl());
