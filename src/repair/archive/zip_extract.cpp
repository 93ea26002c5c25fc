// Writing an indexed archive below a destination folder: every folder an entry lies in is made
// first (archives often hold no entry for a folder of their own), then every file entry, streamed,
// with progress after each file. A failed entry never leaves a partial file.
#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "repair/archive/entry_name.h"
#include "repair/archive/entry_output.h"
#include "repair/archive/zip_file_impl.h"

namespace {

// The longest path the reader writes, in UTF-16 units: D + "\" + name must be shorter than this.
// Windows refuses longer ones to programs that do not opt into long paths.
constexpr std::size_t kLongestPath = 256;

std::wstring WithoutTrailingSeparator(const std::wstring& folder) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        return folder.substr(0, folder.size() - 1);
    }
    return folder;
}

// The length of a path as Windows counts it: characters beyond the Basic Multilingual Plane
// take two UTF-16 units (wchar_t holds them as one on Linux).
std::size_t Utf16Length(const std::wstring& path) {
    return path.size() +
           static_cast<std::size_t>(std::count_if(path.begin(), path.end(), [](wchar_t c) {
               return (static_cast<uint32_t>(c) >> 16) != 0;  // never where wchar_t is 16-bit
           }));
}

// Makes every folder the entry lies in, and the entry itself when it is a directory, one level
// at a time below D. A folder already made for an earlier entry is not asked for again; one that
// existed before is fine, one that cannot be made is the entry's failure.
void MakeEntryFolders(const std::wstring& folder, const std::wstring& name,
                      std::set<std::wstring>& made, FileFailure* failure) {
    for (std::size_t end = name.find(L'\\'); end != std::wstring::npos;
         end = name.find(L'\\', end + 1)) {
        const std::wstring path = folder + L"\\" + name.substr(0, end);
        if (made.insert(path).second && !CreateDirectoryW(path.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            NoteFailure(failure, L"CreateDirectoryW", path);
        }
    }
}

struct PlannedFile {
    std::wstring path;
    ZipEntryRecord record;
};

// Writes every safe entry of the index below the folder; the first failure goes to `failure`.
void ExtractIndexed(ZipFileImpl& impl, const std::wstring& folder, const ProgressCallback& progress,
                    FileFailure* failure) {
    std::vector<PlannedFile> files;
    std::set<std::wstring> madeFolders;
    for (const auto& entry : impl.index) {
        const std::wstring& name = entry.first;
        const std::wstring path = folder + L"\\" + name;
        if (!IsSafeEntryName(name) || Utf16Length(path) >= kLongestPath) {
            NoteRefusedEntry(failure, impl.file.path, path);
            continue;
        }
        MakeEntryFolders(folder, name, madeFolders, failure);
        if (!IsDirectoryEntryName(name)) {
            files.push_back(PlannedFile{path, entry.second});
        }
    }
    if (files.size() > static_cast<std::size_t>(INT_MAX)) {
        NoteRefusedEntry(failure, impl.file.path, folder);  // more than progress can count
        return;
    }
    // In central-directory order the archive is read front to back.
    std::sort(files.begin(), files.end(), [](const PlannedFile& a, const PlannedFile& b) {
        return a.record.numOfFile < b.record.numOfFile;
    });
    const int fileCount = static_cast<int>(files.size());
    int filesWritten = 0;
    EntryBuffer buffer;
    for (const PlannedFile& file : files) {
        if (!WriteEntryFile(impl.handle.get(), impl.file, file.record, file.path, buffer,
                            failure)) {
            continue;
        }
        ++filesWritten;
        if (progress.callback != nullptr) {
            progress.callback(progress.context, filesWritten, fileCount);
        }
    }
}

}  // namespace

bool ZipFile::ExtractAll(const std::wstring& destination, const ProgressCallback& progress,
                         FileFailure* failure) {
    FileFailure first;
    const std::wstring folder = WithoutTrailingSeparator(destination);
    if (!impl_->handle) {
        NoteArchiveNotOpen(*impl_, &first, folder);
    } else {
        if (impl_->unusableEntries != 0) {
            const std::wstring& name = impl_->firstUnusableName;
            NoteRefusedEntry(&first, impl_->file.path,
                             name.empty() ? folder : folder + L"\\" + name);
        }
        if (!impl_->index.empty() && folder.empty()) {
            NoteRefusedEntry(&first, impl_->file.path, destination);  // no folder to stay below
        } else if (!impl_->index.empty()) {
            ExtractIndexed(*impl_, folder, progress, &first);
        }
    }
    if (failure != nullptr && !failure->Recorded()) {
        *failure = first;
    }
    return !first.Recorded();
}

bool ExtractArchive(const std::wstring& archive, const std::wstring& destination,
                    const ProgressCallback& progress, FileFailure* failure) {
    ZipFile reader(archive);
    return reader.ExtractAll(destination, progress, failure);
}
