// The archive reader: a small class over the minizip unzip interface that indexes a ZIP archive
// by entry name and writes its entries below a destination folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Where an entry lies (its central-directory position pair, 64-bit for zip64 archives) and how
// large it is; whole entries are held in memory, so sizes stay 32-bit.
struct ZipEntryRecord {
    uint64_t posInZipDirectory = 0;
    uint64_t numOfFile = 0;
    uint32_t uncompressedSize = 0;
};

// Called after each file written, with the context it was given.
struct ProgressCallback {
    int (*callback)(void* context, int filesWritten, int fileCount) = nullptr;
    void* context = nullptr;
};

struct ZipFileImpl;

class ZipFile {
  public:
    ZipFile(const std::string& archivePath, const std::string& filter);
    ~ZipFile();
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;

    bool IndexEntries(const std::string& filter);
    // The whole data of one entry, or null; size receives its length (0 when null). The name is
    // the entry's name in the system code page.
    std::unique_ptr<unsigned char[]> ReadEntry(const std::string& name, uint32_t* size);
    bool ExtractAll(const std::string& destination, const ProgressCallback& progress);

  private:
    std::unique_ptr<ZipFileImpl> impl_;
};

bool ExtractArchive(const std::string& archive, const std::string& destination,
                    const ProgressCallback& progress);
