// Writing an indexed archive below a destination folder: every folder an entry lies in is made
// first (archives often hold no entry for a folder of their own), then every file entry whole,
// with progress after each file. A failed entry never leaves a partial file.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "fsutil/text.h"
#include "platform/owners.h"
#include "repair/archive/entry_name.h"
#include "repair/archive/zip_file_impl.h"

namespace {

// The fixed path buffer: D + "/" + name must be shorter than this.
constexpr std::size_t kPathBufferSize = 256;

std::string WithoutTrailingSeparator(const std::string& folder) {
    const std::vector<std::size_t> separators = SeparatorOffsets(folder);
    if (!separators.empty() && separators.back() == folder.size() - 1) {
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

// Makes every folder the entry lies in, and the entry itself when it is a directory, one level
// at a time below D. A folder already made for an earlier entry is not asked for again; one that
// cannot be made shows later, when a file inside it cannot be created.
void MakeEntryFolders(const std::string& folder, const std::string& name,
                      std::set<std::string>& made) {
    for (const std::size_t end : SeparatorOffsets(name)) {
        const std::string relative = name.substr(0, end);
        if (made.insert(relative).second) {
            _mkdir((folder + "/" + relative).c_str());  // an existing folder is fine
        }
    }
}

void RemovePartialFile(const char* path) {
    std::wstring widePath;
    DeleteFileW(AnsiToWide(path, widePath).c_str());
}

// The runtime's code for the call that just failed; EIO when it left none.
int ErrnoOrIo() {
    return errno != 0 ? errno : EIO;
}

// One fwrite for the whole entry; a short write or a failed close (a full disk) removes the file.
// 0 when the file is written, else the runtime's code for the failure.
int WriteWholeFile(const char* path, const unsigned char* data, uint32_t size) {
    errno = 0;
    UniqueFile file(fopen(path, "wb"));
    if (!file) {
        return ErrnoOrIo();
    }
    int error = size == 0 || std::fwrite(data, 1, size, file.get()) == size ? 0 : ErrnoOrIo();
    if (!file.close() && error == 0) {
        error = ErrnoOrIo();
    }
    if (error != 0) {
        RemovePartialFile(path);  // may change errno: the code is taken first
    }
    return error;
}

// The first entry that failed and its reason, left in errno when the extraction returns false:
// 0 for a refused or damaged entry (the system had nothing to say), the runtime's code for a
// file that could not be made or written. Later failures are mostly consequences of the first,
// and the calls between them leave unrelated codes behind.
class FirstEntryFailure {
  public:
    void Note(int error) {
        if (!noted_) {
            noted_ = true;
            error_ = error;
        }
    }
    // The extraction's result, errno set as above when it failed.
    bool Result() const {
        if (noted_) {
            errno = error_;
        }
        return !noted_;
    }

  private:
    bool noted_ = false;
    int error_ = 0;
};

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
    if (impl_ == nullptr || !impl_->handle) {
        return false;  // errno tells why the archive could not be opened, if the system knew
    }
    FirstEntryFailure failure;
    if (impl_->unusableEntries != 0) {
        failure.Note(0);
    }
    if (impl_->index.empty()) {
        return failure.Result();
    }
    if (destination.empty()) {
        failure.Note(0);  // no folder to stay below
        return failure.Result();
    }
    const std::string folder = WithoutTrailingSeparator(destination);

    std::vector<PlannedFile> files;
    std::set<std::string> madeFolders;
    char path[kPathBufferSize];
    for (const auto& entry : impl_->index) {
        const std::string& name = entry.first;
        if (!IsSafeEntryName(name) || !BuildEntryPath(folder, name, path)) {
            failure.Note(0);
            continue;
        }
        MakeEntryFolders(folder, name, madeFolders);
        if (!IsDirectoryEntryName(name)) {
            files.push_back(PlannedFile{path, entry.second});
        }
    }
    if (files.size() > static_cast<std::size_t>(INT_MAX)) {
        failure.Note(0);  // more than the progress counters can count
        return failure.Result();
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
        if (data == nullptr) {
            failure.Note(ENOMEM);
            continue;
        }
        if (!ReadIndexedEntry(impl_->handle.get(), file.record, data)) {
            failure.Note(0);
            continue;
        }
        if (const int error = WriteWholeFile(file.path.c_str(), data, size); error != 0) {
            failure.Note(error);
            continue;
        }
        ++filesWritten;
        if (progress.callback != nullptr) {
            progress.callback(progress.context, filesWritten, fileCount);
        }
    }
    return failure.Result();
}

bool ExtractArchive(const std::string& archive, const std::string& destination,
                    const ProgressCallback& progress) {
    ZipFile reader(archive, std::string());
    return reader.ExtractAll(destination, progress);
}
