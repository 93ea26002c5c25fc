// The CNG hash calls as the program uses them to check archives: SHA-256 known answers, also
// when the input is fed in uneven pieces, and the refusals callers must see as failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace {

std::string Hex(const UCHAR* bytes, size_t size) {
    std::string hex;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

// The digest of `text` fed in pieces of `piece` bytes (at least one call, also for "").
std::string Sha256(const std::string& text, size_t piece) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    EXPECT_TRUE(BCRYPT_SUCCESS(
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
    BCRYPT_HASH_HANDLE hash = nullptr;
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)));
    std::string data = text;
    size_t at = 0;
    do {
        const size_t size = std::min(piece, data.size() - at);
        EXPECT_TRUE(BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(&data[0]) + at,
                                                  static_cast<ULONG>(size), 0)));
        at += size;
    } while (at < data.size());
    UCHAR digest[32] = {};
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0)));
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptDestroyHash(hash)));
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(algorithm, 0)));
    return Hex(digest, sizeof digest);
}

TEST(HashBehaviour, Sha256KnownAnswersWholeAndInPieces) {
    EXPECT_EQ(Sha256("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string expected = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
    EXPECT_EQ(Sha256(twoBlocks, twoBlocks.size()), expected);
    EXPECT_EQ(Sha256(twoBlocks, 7), expected);
    EXPECT_EQ(Sha256(std::string(1000000, 'a'), 65521),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HashBehaviour, AWrongDigestSizeOrAnUnknownAlgorithmFails) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    EXPECT_FALSE(
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, L"NOSUCHHASH", nullptr, 0)));
    ASSERT_TRUE(BCRYPT_SUCCESS(
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
    BCRYPT_HASH_HANDLE hash = nullptr;
    ASSERT_TRUE(BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)));
    UCHAR tooSmall[20] = {};
    EXPECT_FALSE(BCRYPT_SUCCESS(BCryptFinishHash(hash, tooSmall, sizeof tooSmall, 0)));
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptDestroyHash(hash)));
    EXPECT_TRUE(BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(algorithm, 0)));
}

}  // namespace
