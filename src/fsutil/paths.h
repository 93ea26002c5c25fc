// Paths and folders: joining, existence tests, creating folder chains, deleting and recreating
// folder trees. Results only; nothing here reports to the user.
#pragma once

#include <string>

std::wstring NormalizeSlashes(const std::wstring& path);
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
bool PathExists(const std::wstring& path);
// True only for a plain directory: attributes exactly FILE_ATTRIBUTE_DIRECTORY.
bool IsDirectory(const std::wstring& path);
int MakeDir(const wchar_t* path);
bool MakeDirTree(const wchar_t* path);
bool DeleteDirTree(const wchar_t* path);
int RecreateDir(const std::wstring& path);
