// The archive reader's walk and entry access: opening the archive, indexing its entries by name
// and reading one whole entry into memory, with every size and checksum verified.
#include "repair/archive/zip_file.h"

#include <algorithm>
#include <climits>
#include <new>

#include "repair/archive/zip_file_impl.h"

namespace {

// The walk's name buffer; a name must be shorter than this to be used.
constexpr uLong kNameBufferSize = 256;
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

}  // namespace

bool ReadIndexedEntry(unzFile handle, const ZipEntryRecord& record, unsigned char* data) {
    unz_file_pos pos{record.posInZipDirectory, record.numOfFile};
    if (unzGoToFilePos(handle, &pos) != UNZ_OK || unzOpenCurrentFile(handle) != UNZ_OK) {
        return false;
    }
    const bool complete = ReadCurrentInFull(handle, data, record.uncompressedSize);
    // Reports UNZ_CRCERROR when the data read in full does not match the stored checksum.
    const bool intact = unzCloseCurrentFile(handle) == UNZ_OK;
    return complete && intact;
}

ZipFile::ZipFile(const std::string& archivePath, const std::string& filter)
    : impl_(new ZipFileImpl) {
    impl_->handle = unzOpen(archivePath.c_str());
    IndexEntries(filter);
}

ZipFile::~ZipFile() {
    if (impl_ != nullptr && impl_->handle != nullptr) {
        unzClose(impl_->handle);
    }
    delete impl_;
}

// Whether an entry's claimed sizes could be real. The reader holds a whole entry in a buffer of
// its uncompressed size, so a hostile central directory claiming gigabytes for a few stored bytes
// must be refused before anything is allocated. Stored data is as long as it is uncompressed;
// deflate cannot expand more than about 1032 to 1; and the data lies before the central directory.
static bool SizesArePlausible(const unz_file_info64& info, const unz_file_pos& pos) {
    constexpr uint64_t kMaxDeflateRatio = 1032;
    constexpr uint64_t kDeflateSlack = 1024;
    if (info.compressed_size > pos.pos_in_zip_directory) {
        return false;
    }
    switch (info.compression_method) {
        case 0:  // stored
            return info.uncompressed_size == info.compressed_size;
        case Z_DEFLATED:
            return info.uncompressed_size <=
                   info.compressed_size * kMaxDeflateRatio + kDeflateSlack;
        default:
            return false;  // nothing else can be read here
    }
}

bool ZipFile::IndexEntries(const std::string& filter) {
    if (impl_ == nullptr || impl_->handle == nullptr) {
        return false;
    }
    impl_->index.clear();
    impl_->unusableEntries = 0;

    unz_global_info64 global{};
    const bool countKnown = unzGetGlobalInfo64(impl_->handle, &global) == UNZ_OK;
    uint64_t visited = 0;
    char nameBuffer[kNameBufferSize];
    unz_file_info64 info{};
    int status = unzGoToFirstFile(impl_->handle);
    while (status == UNZ_OK) {
        status = unzGetCurrentFileInfo64(impl_->handle, &info, nameBuffer, kNameBufferSize, nullptr,
                                         0, nullptr, 0);
        if (status != UNZ_OK) {
            break;
        }
        ++visited;
        // A name as long as the buffer arrives cut short and unterminated: never used as is.
        const bool nameFits = info.size_filename < kNameBufferSize;
        const std::string name(nameBuffer, nameFits ? info.size_filename : kNameBufferSize);
        if (MatchesFilter(name, filter)) {
            unz_file_pos pos{};
            const bool usable = nameFits && name.find('\0') == std::string::npos &&
                                info.uncompressed_size <= UINT32_MAX &&
                                unzGetFilePos(impl_->handle, &pos) == UNZ_OK &&
                                pos.pos_in_zip_directory <= UINT32_MAX &&
                                pos.num_of_file <= UINT32_MAX && SizesArePlausible(info, pos);
            if (usable) {
                impl_->index[name] = ZipEntryRecord{static_cast<uint32_t>(pos.pos_in_zip_directory),
                                                    static_cast<uint32_t>(pos.num_of_file),
                                                    static_cast<uint32_t>(info.uncompressed_size)};
            } else {
                // The last occurrence of a name decides; an unusable one must not let an
                // earlier occurrence's data through.
                if (nameFits) {
                    impl_->index.erase(name);
                }
                ++impl_->unusableEntries;
            }
        }
        status = unzGoToNextFile(impl_->handle);
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
    if (impl_ == nullptr || impl_->handle == nullptr || name.empty()) {
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
    if (data == nullptr || !ReadIndexedEntry(impl_->handle, record, data.get())) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = record.uncompressedSize;
    }
    return data;
}
