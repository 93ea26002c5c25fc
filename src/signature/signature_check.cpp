// The check of a minisign signature with libsodium's Ed25519, in minisign's order: the form, the
// key id, the signature over the list (or over its BLAKE2b-512 for the prehashed algorithm), then
// the global signature over the signature and the trusted comment, then the timestamp in it.
#include "signature/signature_check.h"

#include <sodium.h>

#include <array>
#include <vector>

#include "signature/sodium_ready.h"

namespace {

SignatureCheck Refused(ListVerdict verdict, const std::string& reason) {
    SignatureCheck check;
    check.verdict = verdict;
    check.reason = reason;
    return check;
}

bool SignatureHolds(const MinisignPublicKey& key, const MinisignSignature& signature,
                    const std::string& body) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    if (!signature.prehashed) {
        return crypto_sign_verify_detached(signature.signature.data(), bytes, body.size(),
                                           key.key.data()) == 0;
    }
    std::array<unsigned char, crypto_generichash_blake2b_BYTES_MAX> digest{};
    return crypto_generichash_blake2b(digest.data(), digest.size(), bytes, body.size(), nullptr,
                                      0) == 0 &&
           crypto_sign_verify_detached(signature.signature.data(), digest.data(), digest.size(),
                                       key.key.data()) == 0;
}

bool GlobalSignatureHolds(const MinisignPublicKey& key, const MinisignSignature& signature) {
    std::vector<unsigned char> signedPart(signature.signature.begin(), signature.signature.end());
    signedPart.insert(signedPart.end(), signature.trustedComment.begin(),
                      signature.trustedComment.end());
    return crypto_sign_verify_detached(signature.globalSignature.data(), signedPart.data(),
                                       signedPart.size(), key.key.data()) == 0;
}

// Everything but the signature over the list itself.
SignatureCheck CheckParsed(const MinisignPublicKey& key, const MinisignSignature& signature,
                           const std::string* body) {
    if (signature.keyId != key.keyId) {
        return Refused(ListVerdict::WrongKey, "signed by key " + KeyIdText(signature.keyId) +
                                                  ", not by the built-in key " +
                                                  KeyIdText(key.keyId));
    }
    if (!SodiumReady()) {
        return Refused(ListVerdict::BadSignature, "libsodium cannot start: nothing is verified");
    }
    if (body != nullptr && !SignatureHolds(key, signature, *body)) {
        return Refused(ListVerdict::BadSignature, "bad signature: the list is not what key " +
                                                      KeyIdText(key.keyId) + " signed");
    }
    if (!GlobalSignatureHolds(key, signature)) {
        return Refused(ListVerdict::TrustedComment,
                       "the trusted comment is not signed by key " + KeyIdText(key.keyId));
    }
    SignatureCheck check;
    if (!TrustedTimestamp(signature.trustedComment, check.timestamp)) {
        return Refused(ListVerdict::TrustedComment,
                       "the trusted comment has no timestamp:<seconds> field");
    }
    check.verdict = ListVerdict::Accepted;
    check.reason = "signed by key " + KeyIdText(key.keyId);
    return check;
}

SignatureCheck ParseAndCheck(const MinisignPublicKey& key, const std::string& signatureFile,
                             const std::string* body) {
    MinisignSignature signature;
    std::string problem;
    if (!ParseSignatureFile(signatureFile, signature, problem)) {
        return Refused(ListVerdict::Malformed, "malformed signature file: " + problem);
    }
    return CheckParsed(key, signature, body);
}

}  // namespace

SignatureCheck CheckSignature(const MinisignPublicKey& key, const std::string& body,
                              const std::optional<std::string>& signatureFile) {
    if (!signatureFile) {
        return Refused(ListVerdict::Missing, "no signature file");
    }
    return ParseAndCheck(key, *signatureFile, &body);
}

SignatureCheck CheckTrustedComment(const MinisignPublicKey& key, const std::string& signatureFile) {
    return ParseAndCheck(key, signatureFile, nullptr);
}
