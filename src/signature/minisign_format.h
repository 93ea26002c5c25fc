// The files of minisign, the publisher's signing tool, read from their bytes: the public key (the
// base64 line of its .pub file) and the signature file (.minisig). Reading checks form only;
// whether a signature holds is signature_check.h's question.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using MinisignKeyId = std::array<uint8_t, 8>;

struct MinisignPublicKey {
    MinisignKeyId keyId{};
    std::array<uint8_t, 32> key{};  // Ed25519
};

struct MinisignSignature {
    bool prehashed = false;  // "ED": signs the BLAKE2b-512 of the file; "Ed" (legacy): the file
    MinisignKeyId keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;                 // the text after "trusted comment: ", as signed
    std::array<uint8_t, 64> globalSignature{};  // over signature + trustedComment
};

// The base64 text of a public key (blanks and line ends around it are ignored); false when it is
// not the 42 bytes "Ed" + key id + key.
bool ParsePublicKey(const std::string& text, MinisignPublicKey& key);

// The four lines of a signature file ("\n" or "\r\n" line ends; what follows them is ignored, as
// minisign does). False with `problem` saying what is wrong when the form is not minisign's.
bool ParseSignatureFile(const std::string& text, MinisignSignature& signature,
                        std::string& problem);

// The seconds of the "timestamp:<decimal seconds>" field of a trusted comment (fields are
// separated by tabs, as minisign writes "timestamp:...\tfile:...\thashed"); false when no field
// holds one that fits in 64 bits.
bool TrustedTimestamp(const std::string& trustedComment, int64_t& seconds);

// A key id as minisign prints it: 16 upper-case hex digits, the id read as a little-endian number.
std::string KeyIdText(const MinisignKeyId& keyId);
