// An entry over 4 GiB, in a sparse zip64 archive (a stored entry of 4 GiB + 1 byte of zeros that
// takes no disk in the archive): unpacked whole and held to its size and checksum, where 32-bit
// sizes would cut it to one byte. It writes 4 GiB, so it runs only with QXWEB_LONG_TESTS=1, as the
// build target long_archive_tests sets it.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive_fixture.h"

namespace qxtest {
namespace {

constexpr uint64_t kEntrySize = (uint64_t{1} << 32) + 1;
const std::string kName = "patch_cache/huge.bin";

void Put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
void Put32(std::string& out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<uint16_t>(value >> 16));
}
void Put64(std::string& out, uint64_t value) {
    Put32(out, static_cast<uint32_t>(value & 0xFFFFFFFF));
    Put32(out, static_cast<uint32_t>(value >> 32));
}

// The CRC-32 of n zero bytes, by doubling: the checksum of 4 GiB without reading 4 GiB.
uLong CrcOfZeros(uint64_t n) {
    const unsigned char zero = 0;
    uLong crc = crc32(0, nullptr, 0);
    uLong block = crc32(0, &zero, 1);  // of `length` zeros
    for (uint64_t length = 1; n != 0; n >>= 1, length <<= 1) {
        if ((n & 1) != 0) {
            crc = crc32_combine(crc, block, static_cast<z_off_t>(length));
        }
        block = crc32_combine(block, block, static_cast<z_off_t>(length));
    }
    return crc;
}

// Local header (sizes in its zip64 field), the zeros as a hole, the central directory, the zip64
// end record and locator, the classic end record.
void WriteSparseZip64(const std::string& path, uLong crc) {
    std::string local;
    Put32(local, 0x04034B50);
    Put16(local, 45), Put16(local, 0), Put16(local, 0), Put32(local, 0);
    Put32(local, static_cast<uint32_t>(crc)), Put32(local, 0xFFFFFFFF), Put32(local, 0xFFFFFFFF);
    Put16(local, static_cast<uint16_t>(kName.size())), Put16(local, 20);
    local += kName;
    Put16(local, 1), Put16(local, 16), Put64(local, kEntrySize), Put64(local, kEntrySize);

    const uint64_t directory = local.size() + kEntrySize;
    std::string central;
    Put32(central, 0x02014B50);
    Put16(central, 45), Put16(central, 45), Put16(central, 0), Put16(central, 0);
    Put32(central, 0), Put32(central, static_cast<uint32_t>(crc));
    Put32(central, 0xFFFFFFFF), Put32(central, 0xFFFFFFFF);
    Put16(central, static_cast<uint16_t>(kName.size())), Put16(central, 20), Put16(central, 0);
    Put16(central, 0), Put16(central, 0), Put32(central, 0), Put32(central, 0);
    central += kName;
    Put16(central, 1), Put16(central, 16), Put64(central, kEntrySize), Put64(central, kEntrySize);

    std::string end;
    Put32(end, 0x06064B50), Put64(end, 44), Put16(end, 45), Put16(end, 45);
    Put32(end, 0), Put32(end, 0), Put64(end, 1), Put64(end, 1);
    Put64(end, central.size()), Put64(end, directory);
    Put32(end, 0x07064B50), Put32(end, 0), Put64(end, directory + central.size()), Put32(end, 1);
    Put32(end, 0x06054B50), Put16(end, 0), Put16(end, 0), Put16(end, 1), Put16(end, 1);
    Put32(end, static_cast<uint32_t>(central.size())), Put32(end, 0xFFFFFFFF), Put16(end, 0);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string tail = central + end;
    EXPECT_EQ(::pwrite(fd, local.data(), local.size(), 0), static_cast<ssize_t>(local.size()));
    EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(directory)),
              static_cast<ssize_t>(tail.size()));
    ::close(fd);
}

TEST_F(ArchiveTest, LongZip64EntryOf4GiBAndOneByteIsUnpackedWhole) {
    const char* enabled = std::getenv("QXWEB_LONG_TESTS");
    if (enabled == nullptr || std::string(enabled) != "1") {
        GTEST_SKIP() << "writes 4 GiB: set QXWEB_LONG_TESTS=1 or build long_archive_tests";
    }
    WriteSparseZip64(dir.host("in.zip"), CrcOfZeros(kEntrySize));

    uint64_t size = 0;
    EXPECT_TRUE(ArchiveUnpackedSize(ArchivePath(), &size));
    EXPECT_EQ(size, kEntrySize);
    EXPECT_TRUE(Extract()) << std::string(failure.target.begin(), failure.target.end());
    EXPECT_EQ(std::filesystem::file_size(dir.host("out/" + kName)), kEntrySize);
    EXPECT_EQ(ProgressCalls(), (std::vector<std::pair<int, int>>{{1, 1}}));
}

}  // namespace
}  // namespace qxtest
