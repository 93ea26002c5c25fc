// Flushing the rollback record's new file and its folder to the disk (FlushFileBuffers), so that
// the record's replacement survives a power cut.
#pragma once

#include <string>

#include "fsutil/file_failure.h"

bool FlushFileToDisk(const std::wstring& path, FileFailure* failure);
// `folder` names a directory; it is opened with FILE_FLAG_BACKUP_SEMANTICS.
bool FlushFolderToDisk(const std::wstring& folder, FileFailure* failure);
