// Whether a signature file made with minisign holds for the patch list's bytes exactly as they
// were received, and the time the publisher signed them. Pure: bytes in, a verdict out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "signature/minisign_format.h"

// What became of a signed patch list, one value per reason the log names.
enum class ListVerdict {
    Accepted,
    Missing,         // no signature file
    Malformed,       // not minisign's form, or the built-in key is not a key
    WrongKey,        // signed by a key with another key id
    BadSignature,    // the list is not what was signed
    TrustedComment,  // its signature does not hold, or it carries no timestamp
    Older,           // signed before a list this client has already accepted
};

struct SignatureCheck {
    ListVerdict verdict = ListVerdict::Malformed;
    std::string reason;     // for the log, in English
    int64_t timestamp = 0;  // the trusted comment's seconds, when accepted
};

// `signatureFile` empty: there was none.
SignatureCheck CheckSignature(const MinisignPublicKey& key, const std::string& body,
                              const std::optional<std::string>& signatureFile);

// Only the signature file's own trusted comment: its form, its key id, its global signature and
// its timestamp (used for the record of the newest list, which keeps the signature file alone).
SignatureCheck CheckTrustedComment(const MinisignPublicKey& key, const std::string& signatureFile);
