// The archive reader's walk: opening the archive, indexing its entries by their decoded names with
// every claimed size checked, and the unpacked size of what an extraction would write.
#include "repair/archive/zip_file.h"

#include <climits>

#include "repair/archive/entry_name.h"
#include "repair/archive/zip_file_impl.h"

namespace {

// The walk's name buffer; a name must be shorter than this to be used.
constexpr uLong kNameBufferSize = 256;
// General-purpose flag bit 11: the entry's name is UTF-8.
constexpr uLong kUtf8NameFlag = 0x800;

// Whether an entry's claimed sizes could be real. A hostile central directory may claim terabytes
// for a few stored bytes, to fill the disk or to pass the free-space check with a lie; such an
// entry is refused before anything is written. Stored data is as long as it is uncompressed;
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

// The record of the current entry when the reader can use it: no symbolic link, plausible sizes,
// and minizip can give its position.
bool RecordCurrentEntry(unzFile handle, const unz_file_info64& info, ZipEntryRecord& record) {
    unz64_file_pos pos{};
    if (IsSymbolicLink(info) || unzGetFilePos64(handle, &pos) != UNZ_OK ||
        !SizesArePlausible(info, pos)) {
        return false;
    }
    record = ZipEntryRecord{pos.pos_in_zip_directory, pos.num_of_file, info.uncompressed_size};
    return true;
}

// The name as the index keys it: decoded, its separators as "\"; false when it cannot be used.
bool IndexName(const char* buffer, const unz_file_info64& info, std::wstring& name) {
    // A name as long as the buffer arrives cut short and unterminated: never used as is.
    if (info.size_filename >= kNameBufferSize) {
        return false;
    }
    const std::string stored(buffer, info.size_filename);
    if (stored.find('\0') != std::string::npos ||
        !DecodeEntryName(stored, (info.flag & kUtf8NameFlag) != 0, name)) {
        return false;
    }
    for (wchar_t& c : name) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return true;
}

}  // namespace

ZipFile::ZipFile(const std::wstring& archivePath) : impl_(std::make_unique<ZipFileImpl>()) {
    impl_->file.path = archivePath;
    impl_->handle.reset(OpenArchive(impl_->file));
    IndexEntries();
}

ZipFile::~ZipFile() = default;

bool ZipFile::IndexEntries() {
    if (!impl_->handle) {
        return false;
    }
    unzFile handle = impl_->handle.get();
    impl_->index.clear();
    impl_->unusableEntries = 0;
    impl_->firstUnusableName.clear();
    const auto noteUnusable = [this](const std::wstring& name) {
        if (impl_->unusableEntries++ == 0) {
            impl_->firstUnusableName = name;
        }
    };

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
        std::wstring name;
        ZipEntryRecord record;
        if (!IndexName(nameBuffer, info, name)) {
            noteUnusable(std::wstring());
        } else if (RecordCurrentEntry(handle, info, record)) {
            impl_->index[name] = record;
        } else {
            // The last occurrence of a name decides; an unusable one must not let an earlier
            // occurrence's data through.
            impl_->index.erase(name);
            noteUnusable(name);
        }
        status = unzGoToNextFile(handle);
    }
    if (countKnown && visited < global.number_entry) {
        impl_->unusableEntries += static_cast<std::size_t>(global.number_entry - visited);
    }
    return true;
}

bool ZipFile::UnpackedSize(uint64_t* size, FileFailure* failure) const {
    *size = 0;
    if (!impl_->handle) {
        NoteArchiveNotOpen(*impl_, failure, std::wstring());
        return false;
    }
    for (const auto& entry : impl_->index) {
        if (IsSafeEntryName(entry.first) && !IsDirectoryEntryName(entry.first)) {
            // Saturates rather than wrapping round to a small figure.
            const uint64_t add = entry.second.uncompressedSize;
            *size = add > UINT64_MAX - *size ? UINT64_MAX : *size + add;
        }
    }
    return true;
}

bool ArchiveUnpackedSize(const std::wstring& archive, uint64_t* size, FileFailure* failure) {
    const ZipFile reader(archive);
    return reader.UnpackedSize(size, failure);
}
