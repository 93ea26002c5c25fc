// The archive reader on damaged archives and failing writes: an entry that cannot be read in
// full, fails its checksum or cannot be written whole leaves no file, the result is false, and
// the failure names the cause.
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

        EXPECT_FALSE(Extract());
        EXPECT_EQ(Output(), (Tree{{"fine.txt", "fine"}}));
        EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_INVALID_DATA));
        EXPECT_EQ(failure.target, dir.win("out/damaged.txt"));
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

// A size that the stored bytes cannot back would fill the disk, or pass the free-space check with
// a lie: it is refused before anything is written, in classic and in zip64 archives.
TEST_F(ArchiveTest, AnImpossibleClaimedSizeIsRefusedBeforeAnythingIsWritten) {
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

    EXPECT_FALSE(Extract());
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

    EXPECT_FALSE(Extract());
    EXPECT_EQ(Output(), (Tree{{"one.txt", "1"}}));
}

TEST_F(ArchiveTest, AReadOnlyFileInTheWayFailsItsEntryOnly) {
    WriteHostFile(dir.host("out/locked.txt"), "old");
    chmod(dir.host("out/locked.txt").c_str(), 0444);
    ZipBuilder zip;
    zip.File("locked.txt", "new").File("free.txt", "free");

    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"free.txt", "free"}, {"locked.txt", "old"}}));
    EXPECT_EQ(failure.call, L"CreateFileW");
    EXPECT_EQ(failure.path, dir.win("out/locked.txt"));
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A full disk, in the first of several writes of a large entry or in the only one of a small
// entry: the partial file is removed and the other entry is still written.
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
        EXPECT_EQ(failure.call, L"WriteFile");
        EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));
    }
}

TEST_F(ArchiveTest, AFailedReadOfTheArchiveFailsTheEntry) {
    ZipBuilder zip;
    zip.File("only.bin", Text(200000), ZipMethod::Stored);
    zip.WriteTo(dir.host("in.zip"));
    MakeDestination();
    ZipFile reader(ArchivePath());
    qx::InjectFault(qx::Sys::Read, 1, EIO, "in.zip");

    EXPECT_FALSE(reader.ExtractAll(Destination(), recorder, &failure));
    qx::ClearFaults();
    EXPECT_EQ(Output(), Tree{});
    EXPECT_EQ(failure.call, L"ReadFile");
    EXPECT_EQ(failure.path, ArchivePath());
}

}  // namespace
}  // namespace qxtest
