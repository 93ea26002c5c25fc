// Creating folder chains and deleting or recreating whole folder trees, for the start-up and the
// repair stages. Results only; nothing here reports to the user.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct FileFailure;

// Creates one folder; true when it exists afterwards (a drive root always counts). A folder that
// cannot be made is recorded in `failure` (when given) with _wmkdir's reason.
bool MakeDir(const wchar_t* path, FileFailure* failure = nullptr);
// Creates every missing folder of the chain; false when one could not be made, recorded as above.
bool MakeDirTree(const wchar_t* path, FileFailure* failure = nullptr);
// Deletes a folder with everything below it; a link is removed itself, never followed. False
// when the folder is still there (or never was); the first call that failed is then in `failure`
// (when given).
bool DeleteDirTree(const wchar_t* path, FileFailure* failure = nullptr);
// Deletes the folder tree at the path; true when nothing is left there, also when nothing was.
bool EnsureNoDirTree(const std::wstring& path, FileFailure* failure = nullptr);
// Deletes the file, link or folder tree at the path, whose attributes the caller has found: a link
// goes itself, never what it leads to, and a read-only file stops it. False when something stays.
bool DeleteItem(const std::wstring& path, DWORD attributes, FileFailure* failure = nullptr);
// Deletes the file, link or folder tree at the path, clearing the read-only attribute of every
// file and folder first; true when nothing is left there. Only for the tool's own folders
// (TmpPatch): the client's read-only files are never overridden.
bool RemoveOwnItem(const std::wstring& path, FileFailure* failure = nullptr);
// Deletes the folder when it is one, then creates it empty; true when it exists afterwards.
bool RecreateDir(const std::wstring& path);

// The "." and ".." entries that a folder search lists beside the real ones.
bool IsDotEntry(const wchar_t* name);
// Appends the entries of a folder, without "." and "..", to `entries`; false (the failed call in
// `failure`, when given) when the folder cannot be listed.
bool ListFolderEntries(const std::wstring& folder, std::vector<WIN32_FIND_DATAW>& entries,
                       FileFailure* failure = nullptr);
