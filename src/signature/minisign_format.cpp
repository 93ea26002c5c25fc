// Reading minisign's public key and signature file. Both carry base64 (the standard alphabet,
// padded) of fixed-size binary records; libsodium decodes it. Every departure from the format is
// named, so that the log says what a refused signature file looked like.
#include "signature/minisign_format.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "signature/sodium_ready.h"

namespace {

const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";
const char kTimestampField[] = "timestamp:";
const char kPrehashedAlgorithm[] = "ED";
const char kLegacyAlgorithm[] = "Ed";
const size_t kAlgorithmSize = 2;
const size_t kSignatureLineSize = kAlgorithmSize + sizeof(MinisignKeyId) + 64;
const size_t kPublicKeySize = kAlgorithmSize + sizeof(MinisignKeyId) + 32;

// The whole text decoded, when it is base64 of exactly `size` bytes.
bool DecodeBase64(const std::string& text, size_t size, std::vector<uint8_t>& bytes) {
    bytes.assign(size, 0);
    size_t decoded = 0;
    return SodiumReady() &&
           sodium_base642bin(bytes.data(), size, text.data(), text.size(), nullptr, &decoded,
                             nullptr, sodium_base64_VARIANT_ORIGINAL) == 0 &&
           decoded == size;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The first `count` lines, each without its "\n" and one "\r" before it; fewer when the text has
// fewer.
std::vector<std::string> FirstLines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (lines.size() < count && start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start && text[end - 1] == '\r') {
            --end;
        }
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

template <size_t N>
void CopyOut(const std::vector<uint8_t>& bytes, size_t from, std::array<uint8_t, N>& out) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), N, out.begin());
}

bool ParseSignatureLine(const std::string& line, MinisignSignature& signature,
                        std::string& problem) {
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(line, kSignatureLineSize, bytes)) {
        problem = "the signature line is not base64 of 74 bytes";
        return false;
    }
    const std::string algorithm(bytes.begin(), bytes.begin() + kAlgorithmSize);
    if (algorithm != kPrehashedAlgorithm && algorithm != kLegacyAlgorithm) {
        problem = "unknown signature algorithm";
        return false;
    }
    signature.prehashed = algorithm == kPrehashedAlgorithm;
    CopyOut(bytes, kAlgorithmSize, signature.keyId);
    CopyOut(bytes, kAlgorithmSize + sizeof(MinisignKeyId), signature.signature);
    return true;
}

}  // namespace

bool ParsePublicKey(const std::string& text, MinisignPublicKey& key) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return false;
    }
    const std::string base64 = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(base64, kPublicKeySize, bytes) ||
        std::string(bytes.begin(), bytes.begin() + kAlgorithmSize) != kLegacyAlgorithm) {
        return false;
    }
    CopyOut(bytes, kAlgorithmSize, key.keyId);
    CopyOut(bytes, kAlgorithmSize + sizeof(MinisignKeyId), key.key);
    return true;
}

bool ParseSignatureFile(const std::string& text, MinisignSignature& signature,
                        std::string& problem) {
    const std::vector<std::string> lines = FirstLines(text, 4);
    if (lines.size() < 4) {
        problem = "fewer than four lines";
        return false;
    }
    if (!StartsWith(lines[0], kUntrustedPrefix)) {
        problem = "the first line is not an untrusted comment";
        return false;
    }
    if (!ParseSignatureLine(lines[1], signature, problem)) {
        return false;
    }
    if (!StartsWith(lines[2], kTrustedPrefix)) {
        problem = "the third line is not a trusted comment";
        return false;
    }
    signature.trustedComment = lines[2].substr(std::strlen(kTrustedPrefix));
    std::vector<uint8_t> global;
    if (!DecodeBase64(lines[3], signature.globalSignature.size(), global)) {
        problem = "the global signature line is not base64 of 64 bytes";
        return false;
    }
    CopyOut(global, 0, signature.globalSignature);
    return true;
}

bool TrustedTimestamp(const std::string& trustedComment, int64_t& seconds) {
    size_t start = 0;
    while (start <= trustedComment.size()) {
        size_t end = trustedComment.find('\t', start);
        if (end == std::string::npos) {
            end = trustedComment.size();
        }
        const std::string field = trustedComment.substr(start, end - start);
        if (StartsWith(field, kTimestampField)) {
            const char* digits = field.data() + std::strlen(kTimestampField);
            const char* last = field.data() + field.size();
            // from_chars takes a sign too; a timestamp is digits only.
            const auto [stop, error] = std::from_chars(digits, last, seconds);
            return digits != last && *digits != '-' && error == std::errc() && stop == last;
        }
        start = end + 1;
    }
    return false;
}

std::string KeyIdText(const MinisignKeyId& keyId) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
        text += kDigits[*byte >> 4];
        text += kDigits[*byte & 0x0f];
    }
    return text;
}
