// The check of a received patch list against its signature and the newest list accepted before:
// the one call the list's retrieval makes, with the bytes it received. Without a built-in key
// every list passes unchecked, as before signing existed.
#pragma once

#include <optional>
#include <string>

#include "signature/signature_check.h"

struct ListCheck {
    ListVerdict verdict = ListVerdict::Malformed;
    std::wstring reason;      // for the log: why it was refused, or who signed it and when
    std::wstring recordNote;  // for the log: the record read as absent or not written; else empty

    bool Accepted() const { return verdict == ListVerdict::Accepted; }
};

// Whether this build checks patch lists: it carries a public key (or the tests set one).
bool ListSignaturesRequired();

// Checks the list's bytes exactly as received against `signatureFile` (empty: the server had
// none) with the built-in key, then against the record of the newest list accepted in
// `clientFolder`. An accepted list signed later than the record replaces it. A record that cannot
// be read or does not hold is treated as absent, and one that cannot be written leaves the list
// accepted: both only leave a note for the log.
ListCheck VerifyPatchList(const std::string& body, const std::optional<std::string>& signatureFile,
                          const std::wstring& clientFolder);

// The short reason the network box gives for a refused list.
extern const wchar_t kListSignatureRefusedText[];
