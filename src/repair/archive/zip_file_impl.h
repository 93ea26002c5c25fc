// The private state of the archive reader, shared by the files that implement ZipFile.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "platform/win32.h"  // before minizip: maps unzOpen to the platform's path handling
#include "repair/archive/zip_file.h"

struct ZipFileImpl {
    unzFile handle = nullptr;
    std::unordered_map<std::string, ZipEntryRecord> index;
    // Entries of the last walk that can never be extracted: a name that did not fit the name
    // buffer or holds a NUL byte, a size or position beyond 32 bits, or entries the walk could
    // not reach in a damaged central directory. Any of them makes an extraction fail.
    std::size_t unusableEntries = 0;
};

// Reads the whole of one indexed entry into data, which holds at least its uncompressedSize
// bytes. False when the entry cannot be located or opened, its data ends early, or it fails its
// checksum; data then holds nothing usable.
bool ReadIndexedEntry(unzFile handle, const ZipEntryRecord& record, unsigned char* data);
