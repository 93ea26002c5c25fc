// Putting a file's data or a folder's entries on the disk through Win32 (FlushFileBuffers), for the
// repair's journal and phases and the signature's record: what they announce must survive a power
// cut.
#pragma once

#include <string>

#include "platform/win32.h"

struct FileFailure;

// A file's data and size, through a handle open for writing.
bool FlushHandleToDisk(HANDLE file, const std::wstring& path, FileFailure* failure = nullptr);
// The same for a file named by its path, opened for writing of its own: the system keeps one
// cache per file, so a handle opened after the writes flushes what they left in it.
bool FlushFileToDisk(const std::wstring& path, FileFailure* failure = nullptr);
// The entries of one folder (the names made, moved in or out, or removed there), opened with
// FILE_FLAG_BACKUP_SEMANTICS.
bool FlushFolderEntries(const std::wstring& folder, FileFailure* failure = nullptr);
// The handle a flush needs: open for writing, sharing everything; `flags` as for CreateFileW.
HANDLE OpenForFlush(const std::wstring& path, DWORD flags);
