// libFuzzer target: minisign signature files and trusted comments from untrusted bytes, read and
// checked against the signature tests' patch list with their key, so that the seeds (signature
// files of that list) reach the Ed25519 and BLAKE2b checks and not only the parser.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "signature/minisign_format.h"
#include "signature/signature_check.h"

namespace {

std::string ReadFixture(const char* name) {
    std::ifstream in(std::string(QX_SIGNATURE_FIXTURES "/") + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string list = ReadFixture("qx_patchlist_win32");
    static MinisignPublicKey key;
    static const bool keyRead = ParsePublicKey(QX_SIGNATURE_KEY, key);
    if (!keyRead) {
        __builtin_trap();  // the fixture's key must read
    }
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    MinisignSignature signature;
    std::string problem;
    const bool parsed = ParseSignatureFile(bytes, signature, problem);
    int64_t seconds = 0;
    TrustedTimestamp(bytes, seconds);
    MinisignPublicKey anyKey;
    ParsePublicKey(bytes, anyKey);

    // The check refuses as malformed exactly what the parser cannot read.
    const SignatureCheck check = CheckSignature(key, list, bytes);
    if (parsed != (check.verdict != ListVerdict::Malformed)) {
        __builtin_trap();
    }
    return 0;
}
