// The record of the newest patch list this client accepted, which keeps a list signed earlier
// from being accepted after it. It is that list's signature file, kept unchanged in the client
// folder: its trusted comment carries the timestamp under the publisher's global signature, so a
// damaged or edited record fails the same check as a signature and reads as absent.
#pragma once

#include <optional>
#include <string>

#include "fsutil/file_failure.h"

// The record's file in the client folder (which ends in "\").
std::wstring RollbackRecordPath(const std::wstring& clientFolder);

// The record's bytes in `record` (its first 16 KiB: a signature file is far smaller), or nothing
// when there is no record. False, with the failing call in `failure`, when it cannot be read.
bool ReadRollbackRecord(const std::wstring& clientFolder, std::optional<std::string>& record,
                        FileFailure* failure);

// Replaces the record durably: a new file written and flushed beside it, moved over the old one
// with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, then the folder flushed. A crash at any
// point leaves the old record or the new one whole. False with the failing call in `failure`; the
// old record then stays as it was.
bool WriteRollbackRecord(const std::wstring& clientFolder, const std::string& signatureFile,
                         FileFailure* failure);
