// The publisher's SHA-256 of the patch archives, carried by the patch list as header lines
// "#sha256:<archive file name> <64 hex digits>", and the download that checks an archive against
// its line before it is unpacked.
#pragma once

#include <map>
#include <string>

// Archive file name -> expected digest in lower-case hex.
using ArchiveHashes = std::map<std::wstring, std::string>;

// The well-formed hash lines of g_patchListHeaders; a malformed one (no name, not 64 hex digits)
// is logged and left out, so that its archive is treated as having none.
ArchiveHashes ReadArchiveHashes();

// The SHA-256 of a file in lower-case hex, read in fixed pieces; false when it cannot be read.
bool FileSha256(const std::wstring& path, std::string& hex);

// Downloads the archive into TmpPatch (DownloadToFile). When `hashes` names it, the file is
// hashed: a mismatch deletes it and downloads it once more from zero; a second mismatch deletes
// it too, shows the download error box with "SHA-256 mismatch" and fails.
bool DownloadChecked(const std::string& url, const std::wstring& fileName,
                     const ArchiveHashes& hashes);
