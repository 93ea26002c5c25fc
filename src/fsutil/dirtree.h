// Creating folder chains and deleting or recreating whole folder trees, for the start-up and the
// repair stages. Results only; nothing here reports to the user.
#pragma once

#include <string>

// Creates one folder; non-zero when it exists afterwards (a drive root always counts).
int MakeDir(const wchar_t* path);
// Creates every missing folder of the chain; false when one could not be made.
bool MakeDirTree(const wchar_t* path);
// Deletes a folder with everything below it; a link is removed itself, never followed. False
// when the folder is still there (or never was).
bool DeleteDirTree(const wchar_t* path);
// Deletes the folder tree at the path; true when nothing is left there, also when nothing was.
bool EnsureNoDirTree(const std::wstring& path);
// Deletes the folder when it is one, then creates it empty; non-zero when it exists afterwards.
int RecreateDir(const std::wstring& path);

// The "." and ".." entries that a folder search lists beside the real ones.
bool IsDotEntry(const wchar_t* name);
