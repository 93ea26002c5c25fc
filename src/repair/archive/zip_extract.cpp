// Writing an indexed archive below a destination folder: directory entries first, then every
// file entry whole, with progress after each file. A failed entry never leaves a partial file.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fsutil/text.h"
#include "repair/archive/entry_name.h"
#include "repair/archive/zip_file_impl.h"

namespace {

// The fixed path buffer: D + "/" + name must be shorter than this.
constexpr std::size_t kPathBufferSize = 256;

std::string WithoutTrailingSeparator(const std::string& folder) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
        return folder.substr(0, folder.size() - 1);
    }
    return folder;
}

// D + "/" + name into the path buffer; false (and nothing usable) when it does not fit.
bool BuildEntryPath(const std::string& folder, const std::string& name,
                    char (&path)[kPathBufferSize]) {
    const int length = std::snprintf(path, kPathBufferSize, "%s/%s", folder.c_str(), name.c_str());
    return length >= 0 && static_cast<std::size_t>(length) < kPathBufferSize;
}

void RemovePartialFile(const char* path) {
    std::wstring widePath;
    DeleteFileW(AnsiToWide(path, widePath).c_str());
}

// One fwrite for the whole entry; a short write or a failed close (a full disk) removes the file.
bool WriteWholeFile(const char* path, const unsigned char* data, uint32_t size) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) {
        return true;
    }
    RemovePartialFile(path);
    return false;
}

struct PlannedFile {
    std::string path;
    ZipEntryRecord record;
};

// One buffer for every entry of an extraction, grown to the largest entry met so far: memory
// stays at one whole entry, and the heap is not grown and trimmed again for every file.
class EntryBuffer {
  public:
    unsigned char* Reserve(uint32_t size) {
        if (data_ == nullptr || size > capacity_) {
            data_.reset();
            data_.reset(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
            capacity_ = data_ == nullptr ? 0 : size;
        }
        return data_.get();
    }

  private:
    std::unique_ptr<unsigned char[]> data_;
    uint32_t capacity_ = 0;
};

}  // namespace

bool ZipFile::ExtractAll(const std::string& destination, const ProgressCallback& progress) {
    if (impl_ == nullptr || impl_->handle == nullptr) {
        return false;
    }
    bool result = impl_->unusableEntries == 0;
    if (impl_->index.empty()) {
        return result;
    }
    if (destination.empty()) {
        return false;  // no folder to stay below
    }
    const std::string folder = WithoutTrailingSeparator(destination);

    // Sorted byte-wise, every directory entry comes before the entries inside it.
    std::vector<const std::string*> names;
    names.reserve(impl_->index.size());
    for (const auto& entry : impl_->index) {
        names.push_back(&entry.first);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string* a, const std::string* b) { return *a < *b; });

    std::vector<PlannedFile> files;
    char path[kPathBufferSize];
    for (const std::string* name : names) {
        if (!IsSafeEntryName(*name) || !BuildEntryPath(folder, *name, path)) {
            result = false;
            continue;
        }
        if (IsDirectoryEntryName(*name)) {
            _mkdir(path);  // one level only; an existing directory is fine
        } else {
            files.push_back(PlannedFile{path, impl_->index.at(*name)});
        }
    }

    // In central-directory order the archive is read front to back.
    std::sort(files.begin(), files.end(), [](const PlannedFile& a, const PlannedFile& b) {
        return a.record.numOfFile < b.record.numOfFile;
    });
    const int fileCount = static_cast<int>(files.size());
    int filesWritten = 0;
    EntryBuffer buffer;
    for (const PlannedFile& file : files) {
        const uint32_t size = file.record.uncompressedSize;
        unsigned char* data = buffer.Reserve(size);
        if (data == nullptr || !ReadIndexedEntry(impl_->handle, file.record, data) ||
            !WriteWholeFile(file.path.c_str(), data, size)) {
            result = false;
            continue;
        }
        ++filesWritten;
        if (progress.callback != nullptr) {
            progress.callback(0, filesWritten, fileCount);
        }
    }
    return result;
}

bool ExtractArchive(const std::string& archive, const std::string& destination,
                    const ProgressCallback& progress) {
    ZipFile reader(archive, std::string());
    return reader.ExtractAll(destination, progress);
}
