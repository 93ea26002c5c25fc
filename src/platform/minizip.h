// minizip's unzip interface for the archive reader, kept out of win32.h so that only the reader
// sees it, and an owner for its archive handles. Archives are opened with unzOpen2_64 and no file
// functions of the caller's: on Windows minizip then opens the narrow path (ANSI code page) with
// its own 64-bit stdio functions; elsewhere the layer's functions open the Windows-form path.
#pragma once

#include <unzip.h>

#include "platform/owners.h"

#ifndef _WIN32
#include "platform/posix/zip_io.h"
#define unzOpen2_64 QxUnzOpen2_64
#endif

// Archives opened with unzOpen2_64; unzClose also closes an entry left open.
struct UnzFileTraits {
    using Value = unzFile;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value file) { return file != nullptr; }
    static bool Close(Value file) { return unzClose(file) == UNZ_OK; }
};

using UniqueUnzFile = UniqueResource<UnzFileTraits>;
