// Checking downloaded archives against the publisher's SHA-256 before they are unpacked. The file
// is hashed in a stream with the CNG hash-object calls (archives weigh gigabytes, and the one-shot
// BCryptHash needs the whole input in memory and Windows 10).
#include "repair/archive_hash.h"

#include <vector>

#include "fsutil/text.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "state/log.h"

namespace {

const wchar_t kHashKeyPrefix[] = L"sha256:";
const size_t kDigestSize = 32;
const size_t kReadPiece = 1 << 20;

bool IsDigestText(const std::wstring& text) {
    if (text.size() != kDigestSize * 2) {
        return false;
    }
    // ASCII digits only: a runtime may count other scripts' digits as hex digits too.
    for (wchar_t c : text) {
        const bool hex =
            (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (!hex) {
            return false;
        }
    }
    return true;
}

// Hex digits are ASCII: the narrow form of the lower-case text.
std::string LowerAscii(const std::wstring& hex) {
    const std::wstring lower = ToLowerAscii(hex);
    return std::string(lower.begin(), lower.end());
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

}  // namespace

ArchiveHashes ReadArchiveHashes(const std::map<std::wstring, std::wstring>& headers) {
    ArchiveHashes hashes;
    for (const auto& [key, value] : headers) {
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
