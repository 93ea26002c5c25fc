// The private state of the archive reader, shared by the files that implement ZipFile.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "platform/minizip.h"
#include "repair/archive/zip_file.h"

struct ZipFileImpl {
    UniqueUnzFile handle;
    // Keyed by the entry's name in the system code page, as it is used for a path.
    std::unordered_map<std::string, ZipEntryRecord> index;
    // Entries of the last walk that can never be extracted: a name that did not fit the name
    // buffer, holds a NUL byte or has no exact form in the system code page, a size beyond 32
    // bits or one its stored bytes cannot back, or entries the walk could not reach in a damaged
    // central directory. Any of them makes an extraction fail.
    std::size_t unusableEntries = 0;
};

// Reads the whole of one indexed entry into data, which holds at least its uncompressedSize
// bytes. False when the entry cannot be located or opened, its data ends early, or it fails its
// checksum; data then holds nothing usable.
bool ReadIndexedEntry(unzFile handle, const ZipEntryRecord& record, unsigned char* data);
