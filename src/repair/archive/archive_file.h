// minizip's file access for the archive reader, over Win32's wide calls: the archive is opened
// with CreateFileW on its wide path and read with ReadFile and SetFilePointerEx, so no path is
// ever converted to the ANSI code page and a failing call is known by name and error code.
#pragma once

#include <string>

#include "fsutil/file_failure.h"
#include "platform/minizip.h"

// One archive file as minizip reads it. It must outlive the handle OpenArchive gives.
struct ArchiveFile {
    std::wstring path;
    // The first call on the archive that failed since it was last cleared.
    FileFailure failure;
};

// Opens file.path for minizip; null when the file cannot be opened or read (file.failure names
// the call) or is no ZIP archive (file.failure stays empty).
unzFile OpenArchive(ArchiveFile& file);
