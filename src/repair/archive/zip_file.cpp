// The archive reader's walk and entry access: opening the archive, indexing its entries by name
// and reading one whole entry into memory, with every size and checksum verified.
#include "repair/archive/zip_file.h"

#include <algorithm>
#include <climits>
#include <new>

#include "repair/archive/entry_name.h"
#include "repair/archive/zip_file_impl.h"

namespace {

// The walk's name buffer; a name must be shorter than this to be used.
constexpr uLong kNameBufferSize = 256;
// General-purpose flag bit 11: the entry's name is UTF-8.
constexpr uLong kUtf8NameFlag = 0x800;
// unzReadCurrentFile counts in int; larger entries are read in several calls of this size.
constexpr uint32_t kLargestRead = 1u << 30;

bool MatchesFilter(const std::string& name, const std::string& filter) {
    return name.compare(0, filter.size(), filter) == 0;
}

// Reads exactly size bytes of the open entry; false when the data ends early or is damaged.
bool ReadCurrentInFull(unzFile handle, unsigned char* data, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
        const unsigned chunk = std::min(size - done, kLargestRead);
        const int got = unzReadCurrentFile(handle, data + done, chunk);
        if (got <= 0) {
            return false;
        }
        done += static_cast<uint32_t>(got);
    }
    return true;
}

// Whether an entry's claimed sizes could be real. The reader holds a whole entry in a buffer of
// its uncompressed size, so a hostile central directory claiming gigabytes for a few stored bytes
// must be refused before anything is allocated. Stored data is as long as it is uncompressed;
// deflate cannot expand more than about 1032 to 1; and the data lies before the central directory.
bool SizesArePlausible(const unz_file_info64& info, const unz64_file_pos& pos) {
    constexpr uint64_t kMaxDeflateRatio = 1032;
    constexpr uint64_t kDeflateSlack = 1024;
    if (info.compressed_size > pos.pos_in_zip_directory) {
        return false;
    }
    switch (info.compression_method) {
        case 0:  // stored
            return info.uncompressed_size == info.compressed_size;
        case Z_DEFLATED:
            // uncompressed <= compressed * ratio + slack, in a form that cannot overflow.
            return info.uncompressed_size <= kDeflateSlack ||
                   (info.uncompressed_size - kDeflateSlack) / kMaxDeflateRatio <=
                       info.compressed_size;
        default:
            return false;  // nothing else can be read here
    }
}

// A symbolic link stored by a Unix archiver (zip -y, 7-Zip): its data is the link's target, which
// written out as a file would install a wrong file in the link's place. The high 16 bits of the
// external attributes hold the Unix mode when the archive was made on Unix.
bool IsSymbolicLink(const unz_file_info64& info) {
    constexpr uLong kMadeOnUnix = 3;
    constexpr uLong kFileTypeMask = 0170000;
    constexpr uLong kSymbolicLinkType = 0120000;
    return (info.version >> 8) == kMadeOnUnix &&
           ((info.external_fa >> 16) & kFileTypeMask) == kSymbolicLinkType;
}

// The record of the current entry when the reader can use it: no symbolic link, its size fits the
// reader's 32-bit counters and is plausible, and minizip can give its position.
bool RecordCurrentEntry(unzFile handle, const unz_file_info64& info, ZipEntryRecord& record) {
    unz64_file_pos pos{};
    if (IsSymbolicLink(info) || info.uncompressed_size > UINT32_MAX ||
        unzGetFilePos64(handle, &pos) != UNZ_OK || !SizesArePlausible(info, pos)) {
        return false;
    }
    record = ZipEntryRecord{pos.pos_in_zip_directory, pos.num_of_file,
                            static_cast<uint32_t>(info.uncompressed_size)};
    return true;
}

}  // namespace

bool ReadIndexedEntry(unzFile handle, const ZipEntryRecord& record, unsigned char* data) {
    const unz64_file_pos pos{record.posInZipDirectory, record.numOfFile};
    if (unzGoToFilePos64(handle, &pos) != UNZ_OK || unzOpenCurrentFile(handle) != UNZ_OK) {
        return false;
    }
    const bool complete = ReadCurrentInFull(handle, data, record.uncompressedSize);
    // Reports UNZ_CRCERROR when the data read in full does not match the stored checksum.
    const bool intact = unzCloseCurrentFile(handle) == UNZ_OK;
    return complete && intact;
}

ZipFile::ZipFile(const std::string& archivePath, const std::string& filter)
    : impl_(std::make_unique<ZipFileImpl>()) {
    impl_->handle.reset(unzOpen2_64(archivePath.c_str(), nullptr));
    IndexEntries(filter);
}

ZipFile::~ZipFile() = default;

bool ZipFile::IndexEntries(const std::string& filter) {
    if (impl_ == nullptr || !impl_->handle) {
        return false;
    }
    unzFile handle = impl_->handle.get();
    impl_->index.clear();
    impl_->unusableEntries = 0;

    unz_global_info64 global{};
    const bool countKnown = unzGetGlobalInfo64(handle, &global) == UNZ_OK;
    uint64_t visited = 0;
    char nameBuffer[kNameBufferSize];
    unz_file_info64 info{};
    int status = unzGoToFirstFile(handle);
    while (status == UNZ_OK) {
        status = unzGetCurrentFileInfo64(handle, &info, nameBuffer, kNameBufferSize, nullptr, 0,
                                         nullptr, 0);
        if (status != UNZ_OK) {
            break;
        }
        ++visited;
        // A name as long as the buffer arrives cut short and unterminated: never used as is.
        const bool nameFits = info.size_filename < kNameBufferSize;
        const std::string stored(nameBuffer, nameFits ? info.size_filename : kNameBufferSize);
        std::string name;
        const bool named =
            nameFits && stored.find('\0') == std::string::npos &&
            EntryNameInSystemCodePage(stored, (info.flag & kUtf8NameFlag) != 0, name);
        if (!named) {
            if (MatchesFilter(stored, filter)) {
                ++impl_->unusableEntries;
            }
        } else if (MatchesFilter(name, filter)) {
            ZipEntryRecord record;
            if (RecordCurrentEntry(handle, info, record)) {
                impl_->index[name] = record;
            } else {
                // The last occurrence of a name decides; an unusable one must not let an
                // earlier occurrence's data through.
                impl_->index.erase(name);
                ++impl_->unusableEntries;
            }
        }
        status = unzGoToNextFile(handle);
    }
    if (countKnown && visited < global.number_entry) {
        impl_->unusableEntries += static_cast<std::size_t>(global.number_entry - visited);
    }
    return true;
}

std::unique_ptr<unsigned char[]> ZipFile::ReadEntry(const std::string& name, uint32_t* size) {
    if (size != nullptr) {
        *size = 0;
    }
    if (impl_ == nullptr || !impl_->handle || name.empty()) {
        return nullptr;
    }
    const auto found = impl_->index.find(name);
    if (found == impl_->index.end()) {
        return nullptr;
    }
    const ZipEntryRecord& record = found->second;
    // Not value-initialised: the entry's bytes overwrite it, and large entries stay cheap.
    std::unique_ptr<unsigned char[]> data(
        new (std::nothrow) unsigned char[record.uncompressedSize]);
    if (data == nullptr || !ReadIndexedEntry(impl_->handle.get(), record, data.get())) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = record.uncompressedSize;
    }
    return data;
}
