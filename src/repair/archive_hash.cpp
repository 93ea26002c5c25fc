// Checking downloaded archives against the publisher's SHA-256 before they are unpacked. The file
// is hashed in a stream with the CNG hash-object calls (archives weigh gigabytes, and the one-shot
// BCryptHash needs the whole input in memory and Windows 10).
#include "repair/archive_hash.h"

#include <cwctype>
#include <vector>

#include "fsutil/paths.h"
#include "layout/folders.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "state/log.h"

namespace {

const wchar_t kHashKeyPrefix[] = L"sha256:";
const size_t kDigestSize = 32;
const size_t kReadPiece = 1 << 20;
const wchar_t kMismatchText[] = L"SHA-256 mismatch";

bool IsDigestText(const std::wstring& text) {
    if (text.size() != kDigestSize * 2) {
        return false;
    }
    for (wchar_t c : text) {
        if (!std::iswxdigit(static_cast<wint_t>(c))) {
            return false;
        }
    }
    return true;
}

std::string LowerAscii(const std::wstring& hex) {
    std::string lower;
    for (wchar_t c : hex) {
        lower += static_cast<char>(std::towlower(static_cast<wint_t>(c)));
    }
    return lower;
}

std::string HexOf(const UCHAR* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

// The CNG provider and hash object of one digest, closed whatever path leaves the scope.
class Sha256Digest {
  public:
    Sha256Digest() {
        if (BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
            !BCRYPT_SUCCESS(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0))) {
            hash_ = nullptr;
        }
    }
    ~Sha256Digest() {
        if (hash_ != nullptr) {
            BCryptDestroyHash(hash_);
        }
        if (algorithm_ != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm_, 0);
        }
    }
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    bool Ready() const { return hash_ != nullptr; }
    bool Add(UCHAR* data, size_t size) {
        return BCRYPT_SUCCESS(BCryptHashData(hash_, data, static_cast<ULONG>(size), 0));
    }
    bool Finish(std::string& hex) {
        UCHAR digest[kDigestSize] = {};
        if (!BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, kDigestSize, 0))) {
            return false;
        }
        hex = HexOf(digest, kDigestSize);
        return true;
    }

  private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// Splits "sha256:<name>" + " " + "<value>" back into the name and the digest text; the header
// table cut the line at its first blank, which a name may contain.
void SplitHashLine(const std::wstring& key, const std::wstring& value, std::wstring& name,
                   std::wstring& digest) {
    const std::wstring rest = key.substr(wcslen(kHashKeyPrefix)) + L" " + value;
    const size_t blank = rest.rfind(L' ');
    name = rest.substr(0, blank);
    digest = rest.substr(blank + 1);
}

// Downloads the archive anew from zero: what the file held is dropped first.
bool DownloadAfresh(const std::string& url, const std::wstring& fileName,
                    const std::wstring& path) {
    DeleteFileW(path.c_str());
    return GetHttpClient()->DownloadToFile(url, fileName);
}

bool MatchesDigest(const std::wstring& path, const std::string& expected) {
    std::string actual;
    if (!FileSha256(path, actual)) {
        LogWrite(g_log, L"SHA-256 of %ls: the file cannot be read", path.c_str());
        return false;
    }
    if (actual != expected) {
        std::wstring wideActual(actual.begin(), actual.end());
        std::wstring wideExpected(expected.begin(), expected.end());
        LogWrite(g_log, L"SHA-256 mismatch of %ls: %ls, expected %ls", path.c_str(),
                 wideActual.c_str(), wideExpected.c_str());
        return false;
    }
    return true;
}

}  // namespace

ArchiveHashes ReadArchiveHashes() {
    ArchiveHashes hashes;
    for (const auto& [key, value] : g_patchListHeaders) {
        if (key.compare(0, wcslen(kHashKeyPrefix), kHashKeyPrefix) != 0) {
            continue;
        }
        std::wstring name;
        std::wstring digest;
        SplitHashLine(key, value, name, digest);
        if (name.empty() || !IsDigestText(digest)) {
            LogWrite(g_log, L"malformed hash line ignored: #%ls %ls", key.c_str(), value.c_str());
            continue;
        }
        hashes[name] = LowerAscii(digest);
    }
    return hashes;
}

bool FileSha256(const std::wstring& path, std::string& hex) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    Sha256Digest digest;
    if (!file || !digest.Ready()) {
        return false;
    }
    std::vector<UCHAR> piece(kReadPiece);
    size_t size = 0;
    while ((size = fread(piece.data(), 1, piece.size(), file.get())) > 0) {
        if (!digest.Add(piece.data(), size)) {
            return false;
        }
    }
    return !ferror(file.get()) && digest.Finish(hex);
}

bool DownloadChecked(const std::string& url, const std::wstring& fileName,
                     const ArchiveHashes& hashes) {
    if (!GetHttpClient()->DownloadToFile(url, fileName)) {
        return false;
    }
    const auto expected = hashes.find(fileName);
    if (expected == hashes.end()) {
        // A list without any hash line is an older publisher's: nothing to say, and a run that
        // has nothing to log leaves the log file alone.
        if (!hashes.empty()) {
            LogWrite(g_log, L"no SHA-256 line for %ls: not checked", fileName.c_str());
        }
        return true;
    }
    const std::wstring path = TmpPatchPath(fileName);
    if (MatchesDigest(path, expected->second)) {
        return true;
    }
    if (!DownloadAfresh(url, fileName, path)) {
        return false;
    }
    if (MatchesDigest(path, expected->second)) {
        return true;
    }
    DeleteFileW(path.c_str());
    ShowDownloadError(kMismatchText);
    return false;
}
