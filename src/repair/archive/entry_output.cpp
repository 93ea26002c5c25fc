// One entry from the archive into its file: read through a fixed buffer and written as it comes,
// then held to its size and its checksum. A file that does not end up whole is removed, so a
// failed entry never leaves a partial file behind.
#include "repair/archive/entry_output.h"

#include "repair/archive/zip_file_impl.h"

namespace {

// Large enough that a file is written in few calls, small beside the memory bound of an
// extraction (64 MiB), whatever the entry's size.
constexpr unsigned kEntryChunk = 1u << 20;

// The entry open in minizip; closing it tells whether its data matched its checksum.
class OpenEntry {
  public:
    explicit OpenEntry(unzFile handle) : handle_(handle) {}
    ~OpenEntry() {
        if (handle_ != nullptr) {
            unzCloseCurrentFile(handle_);
        }
    }
    OpenEntry(const OpenEntry&) = delete;
    OpenEntry& operator=(const OpenEntry&) = delete;

    // UNZ_CRCERROR when the data read in full does not match the stored checksum.
    bool CloseIntact() {
        const int status = unzCloseCurrentFile(handle_);
        handle_ = nullptr;
        return status == UNZ_OK;
    }

  private:
    unzFile handle_;
};

// Why the archive's data failed: a call on the archive that failed, else damaged data.
void NoteDataFailure(const ArchiveFile& archive, const std::wstring& path, FileFailure* failure) {
    if (archive.failure.Recorded()) {
        if (failure != nullptr && !failure->Recorded()) {
            *failure = archive.failure;
        }
        return;
    }
    NoteRefusedEntry(failure, archive.path, path);
}

// Copies the open entry into the open file; false at the first failure, which is noted.
bool CopyEntryData(unzFile handle, ArchiveFile& archive, const ZipEntryRecord& record, HANDLE file,
                   const std::wstring& path, EntryBuffer& buffer, FileFailure* failure) {
    uint64_t total = 0;
    for (;;) {
        const int got = unzReadCurrentFile(handle, buffer.data(), buffer.size());
        if (got < 0) {
            NoteDataFailure(archive, path, failure);
            return false;
        }
        if (got == 0) {
            break;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), static_cast<DWORD>(got), &written, nullptr)) {
            NoteFailure(failure, L"WriteFile", path);
            return false;
        }
        total += static_cast<uint64_t>(got);
    }
    if (total != record.uncompressedSize) {
        NoteDataFailure(archive, path, failure);  // the data ended early
        return false;
    }
    return true;
}

}  // namespace

EntryBuffer::EntryBuffer() : data_(kEntryChunk) {}

bool WriteEntryFile(unzFile handle, ArchiveFile& archive, const ZipEntryRecord& record,
                    const std::wstring& path, EntryBuffer& buffer, FileFailure* failure) {
    archive.failure = FileFailure();
    const unz64_file_pos pos{record.posInZipDirectory, record.numOfFile};
    if (unzGoToFilePos64(handle, &pos) != UNZ_OK || unzOpenCurrentFile(handle) != UNZ_OK) {
        NoteDataFailure(archive, path, failure);
        return false;
    }
    OpenEntry entry(handle);
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        NoteFailure(failure, L"CreateFileW", path);
        return false;
    }
    bool whole = CopyEntryData(handle, archive, record, file.get(), path, buffer, failure);
    if (whole && !entry.CloseIntact()) {
        NoteRefusedEntry(failure, archive.path, path);
        whole = false;
    }
    if (!file.close() && whole) {
        NoteFailure(failure, L"CloseHandle", path);
        whole = false;
    }
    if (!whole) {
        DeleteFileW(path.c_str());  // closed first: Windows keeps an open file
    }
    return whole;
}
