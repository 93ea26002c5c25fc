// The private state of the archive reader, shared by the files that implement ZipFile.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "fsutil/file_failure.h"
#include "repair/archive/archive_file.h"
#include "repair/archive/zip_file.h"

struct ZipFileImpl {
    // Declared before the handle, so the handle is closed first.
    ArchiveFile file;
    UniqueUnzFile handle;
    // Keyed by the entry's decoded name, separators as "\".
    std::unordered_map<std::wstring, ZipEntryRecord> index;
    // Entries of the last walk that can never be extracted: a name that did not fit the name
    // buffer, holds a NUL byte or is no text in its encoding, a size its stored bytes cannot back,
    // a symbolic link, or entries the walk could not reach in a damaged central directory. Any of
    // them makes an extraction fail; the first one's name is kept (empty when it has none).
    std::size_t unusableEntries = 0;
    std::wstring firstUnusableName;
};

// Records that the reader refuses what the archive holds at `target` (an entry's path, or the
// destination): no call failed, so the reader's own name stands for it, with ERROR_INVALID_DATA.
inline void NoteRefusedEntry(FileFailure* failure, const std::wstring& archive,
                             const std::wstring& target) {
    SetLastError(ERROR_INVALID_DATA);
    NoteFailure(failure, L"ExtractArchive", archive, target);
}

// Records why the archive is not open: the call on it that failed, else it is no ZIP archive.
inline void NoteArchiveNotOpen(const ZipFileImpl& impl, FileFailure* failure,
                               const std::wstring& target) {
    if (impl.file.failure.Recorded()) {
        if (failure != nullptr && !failure->Recorded()) {
            *failure = impl.file.failure;
        }
        return;
    }
    NoteRefusedEntry(failure, impl.file.path, target);
}
