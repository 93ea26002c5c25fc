// The CNG hash calls the program uses to check downloaded archives (SHA-256 fed in pieces), over
// libcrypto's EVP digests, which libcurl's OpenSSL already brings. Status codes are the NTSTATUS
// values Windows returns for the same mistakes.
#include <openssl/evp.h>

#include <cwchar>

#include "win32_posix.h"

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kInvalidHandle = static_cast<NTSTATUS>(0xC0000008L);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
const NTSTATUS kNoMemory = static_cast<NTSTATUS>(0xC0000017L);
const NTSTATUS kNotFound = static_cast<NTSTATUS>(0xC0000225L);

struct Algorithm {
    const EVP_MD* digest;
};

struct Hash {
    EVP_MD_CTX* context;
};

}  // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId,
                                     LPCWSTR pszImplementation, ULONG dwFlags) {
    if (phAlgorithm == nullptr || pszAlgId == nullptr || dwFlags != 0) {
        return kInvalidParameter;
    }
    *phAlgorithm = nullptr;
    if (std::wcscmp(pszAlgId, BCRYPT_SHA256_ALGORITHM) != 0 || pszImplementation != nullptr) {
        return kNotFound;
    }
    *phAlgorithm = new Algorithm{EVP_sha256()};
    return kSuccess;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG /*dwFlags*/) {
    if (hAlgorithm == nullptr) {
        return kInvalidHandle;
    }
    delete static_cast<Algorithm*>(hAlgorithm);
    return kSuccess;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE* phHash,
                          PUCHAR /*pbHashObject*/, ULONG /*cbHashObject*/, PUCHAR pbSecret,
                          ULONG cbSecret, ULONG dwFlags) {
    if (hAlgorithm == nullptr) {
        return kInvalidHandle;
    }
    if (phHash == nullptr || pbSecret != nullptr || cbSecret != 0 || dwFlags != 0) {
        return kInvalidParameter;  // no keyed hashes (HMAC) here
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) {
        return kNoMemory;
    }
    if (EVP_DigestInit_ex(context, static_cast<Algorithm*>(hAlgorithm)->digest, nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return kNoMemory;
    }
    *phHash = new Hash{context};
    return kSuccess;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput, ULONG dwFlags) {
    if (hHash == nullptr) {
        return kInvalidHandle;
    }
    if ((pbInput == nullptr && cbInput != 0) || dwFlags != 0) {
        return kInvalidParameter;
    }
    if (cbInput == 0) {
        return kSuccess;
    }
    return EVP_DigestUpdate(static_cast<Hash*>(hHash)->context, pbInput, cbInput) == 1
               ? kSuccess
               : kInvalidParameter;
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput,
                          ULONG dwFlags) {
    if (hHash == nullptr) {
        return kInvalidHandle;
    }
    EVP_MD_CTX* context = static_cast<Hash*>(hHash)->context;
    if (pbOutput == nullptr || dwFlags != 0 ||
        cbOutput != static_cast<ULONG>(EVP_MD_CTX_get_size(context))) {
        return kInvalidParameter;
    }
    return EVP_DigestFinal_ex(context, pbOutput, nullptr) == 1 ? kSuccess : kInvalidParameter;
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash) {
    if (hHash == nullptr) {
        return kInvalidHandle;
    }
    auto* hash = static_cast<Hash*>(hHash);
    EVP_MD_CTX_free(hash->context);
    delete hash;
    return kSuccess;
}
