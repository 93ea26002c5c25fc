// The archive reader on damaged archives and failing writes: an entry that cannot be read in
// full, fails its checksum or cannot be written whole leaves no file, and the result is false.
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "archive_fixture.h"
#include "platform/posix/syscalls.h"

namespace qxtest {
namespace {

std::string Text(std::size_t size) {
    std::string text;
    while (text.size() < size) {
        text += "patch data line " + std::to_string(text.size()) + "\n";
    }
    text.resize(size);
    return text;
}

TEST_F(ArchiveTest, AFlippedByteInStoredOrDeflatedDataLeavesNoFile) {
    for (const ZipMethod method : {ZipMethod::Stored, ZipMethod::Deflated}) {
        ZipBuilder zip;
        zip.File("damaged.txt", Text(5000), method).File("fine.txt", "fine");
        zip.WriteCorrupted(dir.host("in.zip"), zip.DataOffset(0) + 40);
        std::filesystem::remove_all(dir.host("out"));
        MakeDestination();

        EXPECT_FALSE(ExtractArchive(ArchivePath(), Destination(), recorder));
        EXPECT_EQ(Output(), (Tree{{"fine.txt", "fine"}}));
    }
}

TEST_F(ArchiveTest, AnEntryWhoseDataIsShorterOrLongerThanItsSizeLeavesNoFile) {
    const std::string data = Text(1000);
    for (const uint32_t claimed : {1010u, 990u}) {
        for (const ZipMethod method : {ZipMethod::Stored, ZipMethod::Deflated}) {
            ZipBuilder zip;
            zip.File("sized.bin", data, method).ClaimSize(claimed).File("fine.txt", "fine");
            std::filesystem::remove_all(dir.host("out"));

            EXPECT_FALSE(Extract(zip)) << claimed;
            EXPECT_EQ(Output(), (Tree{{"fine.txt", "fine"}})) << claimed;
        }
    }
}

// The reader holds a whole entry in memory with a 32-bit size: a size that the stored bytes
// cannot back, or one beyond 32 bits (zip64), is refused before anything is allocated.
TEST_F(ArchiveTest, AnImpossibleOrTooLargeClaimedSizeIsRefusedBeforeAnythingIsAllocated) {
    for (const bool zip64 : {false, true}) {
        for (const ZipMethod method : {ZipMethod::Stored, ZipMethod::Deflated}) {
            ZipBuilder zip;
            if (zip64) {
                zip.Zip64();
            }
            zip.File("bomb.bin", "tiny", method).ClaimSize(zip64 ? 5ull << 30 : 0xFFFFFFF0u);
            zip.File("fine.txt", "fine");
            std::filesystem::remove_all(dir.host("out"));

            EXPECT_FALSE(Extract(zip)) << zip64;
            EXPECT_EQ(Output(), (Tree{{"fine.txt", "fine"}})) << zip64;
        }
    }
}

TEST_F(ArchiveTest, ATruncatedArchiveWritesNothing) {
    ZipBuilder zip;
    zip.Dir("a").File("a/one.txt", Text(4000)).File("two.txt", Text(4000));
    const std::string bytes = zip.Bytes();
    WriteHostFile(dir.host("in.zip"), bytes.substr(0, bytes.size() / 2));
    MakeDestination();

    EXPECT_FALSE(ExtractArchive(ArchivePath(), Destination(), recorder));
    EXPECT_EQ(Output(), Tree{});
}

// The end record still counts three entries, but the second directory record is broken: the
// walk stops early, so the entries it never reached fail the extraction.
TEST_F(ArchiveTest, ADamagedCentralDirectoryFailsTheEntriesItHides) {
    ZipBuilder zip;
    zip.File("one.txt", "1").File("two.txt", "2").File("three.txt", "3");
    std::string bytes = zip.Bytes();
    const std::size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
    bytes[second + 2] = 'X';
    WriteHostFile(dir.host("in.zip"), bytes);
    MakeDestination();

    EXPECT_FALSE(ExtractArchive(ArchivePath(), Destination(), recorder));
    EXPECT_EQ(Output(), (Tree{{"one.txt", "1"}}));
}

TEST_F(ArchiveTest, AReadOnlyFileInTheWayFailsItsEntryOnly) {
    WriteHostFile(dir.host("out/locked.txt"), "old");
    chmod(dir.host("out/locked.txt").c_str(), 0444);
    ZipBuilder zip;
    zip.File("locked.txt", "new").File("free.txt", "free");

    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"free.txt", "free"}, {"locked.txt", "old"}}));
}

// A full disk: the one large write fails, or for a small file the flush at fclose does; either
// way the partial file is removed and the other entry is still written.
TEST_F(ArchiveTest, AFullDiskRemovesThePartialFile) {
    ZipBuilder zip;
    zip.File("big.bin", Text(3 * 1024 * 1024)).File("small.txt", "small");
    const Tree bigOnly{{"big.bin", "3145728 bytes"}};
    const Tree smallOnly{{"small.txt", "small"}};
    for (const auto& failing :
         {std::make_pair("big.bin", smallOnly), std::make_pair("small.txt", bigOnly)}) {
        std::filesystem::remove_all(dir.host("out"));
        qx::InjectFault(qx::Sys::Write, 1, ENOSPC, failing.first);

        EXPECT_FALSE(Extract(zip)) << failing.first;
        qx::ClearFaults();
        EXPECT_EQ(Output(), failing.second) << failing.first;
    }
}

TEST_F(ArchiveTest, AFailedReadOfTheArchiveFailsTheEntry) {
    ZipBuilder zip;
    zip.File("only.bin", Text(200000), ZipMethod::Stored);
    zip.WriteTo(dir.host("in.zip"));
    MakeDestination();
    ZipFile reader(ArchivePath(), "");
    qx::InjectFault(qx::Sys::Read, 1, EIO, "in.zip");

    EXPECT_FALSE(reader.ExtractAll(Destination(), recorder));
    qx::ClearFaults();
    EXPECT_EQ(Output(), Tree{});
}

}  // namespace
}  // namespace qxtest
