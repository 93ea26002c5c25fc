// Writing one entry of an archive into a file, streamed through a fixed buffer, so that memory
// stays the same whatever the entry's size.
#pragma once

#include <string>
#include <vector>

#include "repair/archive/archive_file.h"
#include "repair/archive/zip_file.h"

// The buffer every entry of an extraction passes through.
class EntryBuffer {
  public:
    EntryBuffer();
    unsigned char* data() { return data_.data(); }
    unsigned size() const { return static_cast<unsigned>(data_.size()); }

  private:
    std::vector<unsigned char> data_;
};

// Unpacks the indexed entry into the file at `path` (created, or emptied when it exists). False
// when the entry cannot be located or read in full, fails its checksum or its size, or the file
// cannot be written whole; a file this call wrote into is then removed, and `failure` names the
// first cause: the failing call, or the reader's refusal of damaged data.
bool WriteEntryFile(unzFile handle, ArchiveFile& archive, const ZipEntryRecord& record,
                    const std::wstring& path, EntryBuffer& buffer, FileFailure* failure);
