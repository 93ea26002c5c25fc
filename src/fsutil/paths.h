// Paths: joining pieces, taking the folder part, and testing what a path names. Results only;
// nothing here reports to the user.
#pragma once

#include <string>

std::wstring NormalizeSlashes(const std::wstring& path);
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
bool PathExists(const std::wstring& path);
// True only for a plain directory: attributes exactly FILE_ATTRIBUTE_DIRECTORY.
bool IsDirectory(const std::wstring& path);
// True for a directory of any kind: also a hidden, read-only or linked one.
bool IsAnyDirectory(const std::wstring& path);
// The folder part of a path up to and including its last "\"; empty when it has none.
std::wstring FolderOf(const std::wstring& path);
