// Paths: joining pieces, taking the folder part, and testing what a path names. Results only;
// nothing here reports to the user.
#pragma once

#include <string>

#include "platform/win32.h"

std::wstring NormalizeSlashes(const std::wstring& path);
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
bool PathExists(const std::wstring& path);
// True only for a plain directory: attributes exactly FILE_ATTRIBUTE_DIRECTORY.
bool IsDirectory(const std::wstring& path);
// True for a directory of any kind: also a hidden, read-only or linked one.
bool IsAnyDirectory(const std::wstring& path);
// Attributes (from GetFileAttributesW or a folder search) of a link: a symbolic link or a
// junction. False for INVALID_FILE_ATTRIBUTES.
bool IsLink(DWORD attributes);
// Attributes of a folder of its own: a directory that is not a link, since what a link leads to
// is not the tool's to change.
bool IsRealFolder(DWORD attributes);
// The folder part of a path up to and including its last "\"; empty when it has none.
std::wstring FolderOf(const std::wstring& path);
