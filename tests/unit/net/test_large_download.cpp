// A download of 1 GiB whose connection the server cuts every 100 MiB finishes byte-exact, and the
// bytes sent over the wire stay close to the file's size. Runs in the normal build only (about
// ten seconds there; the sanitizers make every byte several times slower).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "net_fixture.h"

namespace qxtest {
namespace {

const int64_t kSize = int64_t{1} << 30;
const int64_t kCutEvery = int64_t{100} << 20;
const size_t kPiece = size_t{1} << 20;

// Piece n of the file: each 8-byte word holds its own offset, so a byte out of place shows.
void FillPiece(std::vector<uint64_t>& words, int64_t offset) {
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<uint64_t>(offset) + i * sizeof(uint64_t);
    }
}

void WritePatternFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> words(kPiece / sizeof(uint64_t));
    for (int64_t offset = 0; offset < kSize; offset += kPiece) {
        FillPiece(words, offset);
        out.write(reinterpret_cast<const char*>(words.data()), kPiece);
    }
}

// The offset of the first piece that differs from the pattern; -1 when the file is exact.
int64_t FirstBadPiece(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint64_t> expected(kPiece / sizeof(uint64_t));
    std::vector<uint64_t> actual(expected.size());
    for (int64_t offset = 0; offset < kSize; offset += kPiece) {
        FillPiece(expected, offset);
        if (!in.read(reinterpret_cast<char*>(actual.data()), kPiece) || actual != expected) {
            return offset;
        }
    }
    return in.peek() == std::char_traits<char>::eof() ? -1 : kSize;
}

using LargeDownloadTest = NetTest;

TEST_F(LargeDownloadTest, OneGibibyteCutEveryHundredMebibytesFinishes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "runs in the normal build only";
#endif
    TestServer server;
    WritePatternFile(server.Root() + "/big.bin");
    server.SetRule("/big.bin", R"({"cut_every": )" + std::to_string(kCutEvery) + "}");

    EXPECT_TRUE(Download(server.Url("/big.bin"), "big.bin").Succeeded());
    EXPECT_EQ(FirstBadPiece(TmpPatchFile("big.bin")), -1);
    EXPECT_EQ(server.RequestCount("/big.bin"), 11);
    const int64_t sent = server.RequestCount("bytes:/big.bin");
    std::fprintf(stdout, "1 GiB cut every 100 MiB: %lld bytes over the wire, %.4f times the file\n",
                 static_cast<long long>(sent), static_cast<double>(sent) / kSize);
    EXPECT_LE(sent, kSize * 105 / 100);
    std::remove(TmpPatchFile("big.bin").c_str());
}

}  // namespace
}  // namespace qxtest
