// Finding game clients started from the client folder, in two interchangeable ways.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool LoadToolhelpFunctions();
bool FindGameProcessesBySnapshot(const std::wstring& folder, std::vector<uint32_t>& pids);
bool FindGameProcessesByEnum(const std::wstring& folder, std::vector<uint32_t>& pids);
bool IsPathInFolder(const std::wstring& path, const std::wstring& folder);
