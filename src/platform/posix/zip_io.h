// minizip's file access over the layer, declared for platform/minizip.h, which routes the archive
// reader's unzOpen2_64 here.
#pragma once

#include <unzip.h>

// unzOpen2_64 on a Windows-form narrow path: without file functions of the caller's, the
// layer's own translate the path and read through the system-call table (and its fault table).
unzFile QxUnzOpen2_64(const void* path, zlib_filefunc64_def* functions);
