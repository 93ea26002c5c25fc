// The diagnostic log "C:\QxWebHelper.txt": opened on first use, one time-stamped line per entry.
// The repair worker and the main thread both write to it.
#pragma once

#include "platform/owners.h"

struct FileFailure;

struct Log {
    UniqueFile file;
};

extern Log* g_log;

void LogOpen();
void LogClose();
// 0 when the line was written, -1 when the file is not open. Format as vfwprintf ("%ls" for wide).
int LogWrite(Log* log, const wchar_t* format, ...);
// One line for a step that failed on a file: the step, the Win32 call, the path (and the target
// of a copy or move), the error code and the system's text for it.
void LogFailure(const wchar_t* step, const FileFailure& failure);
