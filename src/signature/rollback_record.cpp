// Reading and durably replacing the record of the newest accepted patch list in the client
// folder. The new record is written beside the old one and moved over it, so that a reader never
// sees a record cut short by a crash or a full disk.
#include "signature/rollback_record.h"

#include <cerrno>

#include "fsutil/paths.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "fsutil/flush.h"

namespace {

const wchar_t kRecordName[] = L"patchlist_accepted.minisig";
const wchar_t kNewRecordSuffix[] = L".new";
// A signature file is a few hundred bytes (minisign's trusted comments stay under 1 KiB), and only
// its first four lines count: reading stops here, whatever a damaged record holds.
const size_t kMaxRecordBytes = 16 * 1024;

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, FileFailure* failure) {
    UniqueFile file(_wfopen(path.c_str(), L"wb"));
    if (!file) {
        NoteCrtFailure(failure, L"_wfopen", path, errno);
        return false;
    }
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const int writeError = errno;
    // The close writes what the stream still buffers: a full disk may show only there.
    const bool closed = file.close();
    if (!written || !closed) {
        NoteCrtFailure(failure, L"fwrite", path, written ? errno : writeError);
        return false;
    }
    return true;
}

}  // namespace

std::wstring RollbackRecordPath(const std::wstring& clientFolder) {
    return JoinPath(clientFolder, kRecordName);
}

bool ReadRollbackRecord(const std::wstring& clientFolder, std::optional<std::string>& record,
                        FileFailure* failure) {
    record.reset();
    const std::wstring path = RollbackRecordPath(clientFolder);
    const UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) {
        if (errno == ENOENT) {
            return true;
        }
        NoteCrtFailure(failure, L"_wfopen", path, errno);
        return false;
    }
    std::string bytes(kMaxRecordBytes, '\0');
    const size_t got = fread(&bytes[0], 1, bytes.size(), file.get());
    if (ferror(file.get())) {
        NoteCrtFailure(failure, L"fread", path, errno);
        return false;
    }
    bytes.resize(got);
    record = bytes;
    return true;
}

bool WriteRollbackRecord(const std::wstring& clientFolder, const std::string& signatureFile,
                         FileFailure* failure) {
    const std::wstring path = RollbackRecordPath(clientFolder);
    const std::wstring newPath = path + kNewRecordSuffix;
    if (!WriteWholeFile(newPath, signatureFile, failure) || !FlushFileToDisk(newPath, failure)) {
        DeleteFileW(newPath.c_str());
        return false;
    }
    if (MoveFileExW(newPath.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        NoteFailure(failure, L"MoveFileExW", newPath, path);
        DeleteFileW(newPath.c_str());
        return false;
    }
    return FlushFolderEntries(clientFolder, failure);
}
