// The diagnostic log "C:\QxWebHelper.txt": opened on first use, one time-stamped line per entry.
#pragma once

#include "platform/owners.h"

struct Log {
    UniqueFile file;
};

extern Log* g_log;

void LogOpen();
void LogClose();
// 0 when the line was written, -1 when the file is not open. Format as vfwprintf ("%ls" for wide).
int LogWrite(Log* log, const wchar_t* format, ...);
