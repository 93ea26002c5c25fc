// The publisher's SHA-256 of the patch archives, carried by the patch list as header lines
// "#sha256:<archive file name> <64 hex digits>", and the digest of a downloaded archive that is
// checked against its line before it is unpacked.
#pragma once

#include <map>
#include <string>

// Archive file name -> expected digest in lower-case hex.
using ArchiveHashes = std::map<std::wstring, std::string>;

// The well-formed hash lines of the patch list's header lines; a malformed one (no name, not 64
// hex digits) is logged and left out, so that its archive is treated as having none.
ArchiveHashes ReadArchiveHashes(const std::map<std::wstring, std::wstring>& headers);

// The SHA-256 of a file in lower-case hex, read in fixed pieces; false when it cannot be read.
bool FileSha256(const std::wstring& path, std::string& hex);

// True when the file's digest is the expected one; a mismatch or a file that cannot be read is
// logged.
bool MatchesDigest(const std::wstring& path, const std::string& expected);
