// The archive reader: a small class over the minizip unzip interface that indexes a ZIP archive
// by entry name and writes its entries below a destination folder, every path wide from the
// caller to the system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct FileFailure;

// Where an entry lies (its central-directory position pair) and how large it is unpacked; 64-bit
// for zip64 archives, since entries are streamed and never held whole.
struct ZipEntryRecord {
    uint64_t posInZipDirectory = 0;
    uint64_t numOfFile = 0;
    uint64_t uncompressedSize = 0;
};

// Called after each file written, with the context it was given.
struct ProgressCallback {
    int (*callback)(void* context, int filesWritten, int fileCount) = nullptr;
    void* context = nullptr;
};

struct ZipFileImpl;

class ZipFile {
  public:
    explicit ZipFile(const std::wstring& archivePath);
    ~ZipFile();
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;

    // Rebuilds the index; false when the archive is not open.
    bool IndexEntries();
    // Writes every indexed entry below the destination. False when the archive could not be
    // opened or any entry could not be written whole; `failure` (when given) then holds the
    // first cause: the failing call with its path(s) and error code, or "ExtractArchive" with
    // ERROR_INVALID_DATA for an entry the reader refuses (hostile name, damaged or implausible).
    bool ExtractAll(const std::wstring& destination, const ProgressCallback& progress,
                    FileFailure* failure = nullptr);
    // The unpacked bytes of the entries ExtractAll would write; false when the archive is not
    // open (`failure` as above).
    bool UnpackedSize(uint64_t* size, FileFailure* failure = nullptr) const;

  private:
    std::unique_ptr<ZipFileImpl> impl_;
};

bool ExtractArchive(const std::wstring& archive, const std::wstring& destination,
                    const ProgressCallback& progress, FileFailure* failure = nullptr);
// The bytes an archive's entries unpack to, for the free-space check before extracting it;
// false when the archive cannot be opened or is no ZIP archive (`failure` as ExtractAll's).
bool ArchiveUnpackedSize(const std::wstring& archive, uint64_t* size,
                         FileFailure* failure = nullptr);
