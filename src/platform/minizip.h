// minizip's unzip interface for the archive reader, kept out of win32.h so that only the reader
// sees it, and an owner for its archive handles. The reader opens archives with file functions of
// its own (Win32 wide calls), so minizip never opens a path itself.
#pragma once

#include <unzip.h>

#include "platform/owners.h"

// Archives opened with unzOpen2_64; unzClose also closes an entry left open.
struct UnzFileTraits {
    using Value = unzFile;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value file) { return file != nullptr; }
    static bool Close(Value file) { return unzClose(file) == UNZ_OK; }
};

using UniqueUnzFile = UniqueResource<UnzFileTraits>;
