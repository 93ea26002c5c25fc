// The archive reader on entry names chosen to escape the destination or to overflow its fixed
// buffers: such an entry fails, nothing is written for it, and the other entries still are.
#include "archive_fixture.h"

namespace qxtest {
namespace {

class HostileNameTest : public ArchiveTest, public ::testing::WithParamInterface<std::string> {};

// Every name goes into an archive beside an ordinary file; afterwards the whole temporary folder
// must hold only the archive and the ordinary file, so nothing went beside the destination.
TEST_P(HostileNameTest, IsRefusedAndNothingLandsOutsideTheDestination) {
    ZipBuilder zip;
    zip.File("good.txt", "good").File(GetParam(), "evil", ZipMethod::Stored);

    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(failure.call, L"ExtractArchive");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_INVALID_DATA));

    Tree everything = SnapshotTree(dir.host());
    everything.erase("in.zip");
    EXPECT_EQ(everything, (Tree{{"out/", ""}, {"out/good.txt", "good"}}));
    EXPECT_EQ(ProgressCalls(), (std::vector<std::pair<int, int>>{{1, 1}}));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest,
                         ::testing::Values("../x", "a/../../x", "..\\x", "a\\..\\..\\x", "../d/",
                                           "C:x", "out:stream", "\\x", "/x", "a//x",
                                           std::string("x.txt\0/../../y", 14), "", ".. /x",
                                           // Windows opens these as devices.
                                           "pkres/nul.txt", "Con", "a/COM1/b.txt", "lpt9.tar.gz",
                                           "aux  .txt", "prn..", "CONOUT$", "com\xC2\xB9"));

// An absolute name pointing at the temporary folder itself, where a leak would be seen.
TEST_F(ArchiveTest, AnAbsoluteNameIsNotFollowed) {
    ZipBuilder zip;
    zip.File(dir.host("abs.txt"), "evil").File(std::string("\\") + dir.host("b.txt"), "evil");

    EXPECT_FALSE(Extract(zip));
    Tree everything = SnapshotTree(dir.host());
    everything.erase("in.zip");
    EXPECT_EQ(everything, (Tree{{"out/", ""}}));
}

TEST_F(ArchiveTest, NamesThatOnlyResembleUnsafeOnesAreExtracted) {
    ZipBuilder zip;
    zip.Dir("..a").File("..a/b..", "b").Dir("./c").File("./c/d", "d");
    zip.File("console.txt", "1").File("com10", "2").File("lpt/nul_x", "3").File("auxiliary", "4");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"..a/", ""},
                              {"..a/b..", "b"},
                              {"auxiliary", "4"},
                              {"c/", ""},
                              {"c/d", "d"},
                              {"com10", "2"},
                              {"console.txt", "1"},
                              {"lpt/", ""},
                              {"lpt/nul_x", "3"}}));
}

// A name that fills the 256-byte name buffer arrives cut short; it must not be used cut.
TEST_F(ArchiveTest, ANameTooLongForTheNameBufferIsNeverUsedTruncated) {
    const std::string longName(300, 'n');
    ZipBuilder zip;
    zip.File("ok.txt", "ok").File(longName, "long");

    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"ok.txt", "ok"}}));
}

// D + "\\" + name must stay shorter than 256 UTF-16 units.
TEST_F(ArchiveTest, APathOf256UnitsFailsAndOneUnitLessIsWritten) {
    const std::size_t room = 255 - Destination().size() - 1;  // longest name that fits
    const std::string fits(room, 'f');
    const std::string tooLong(room + 1, 't');
    ZipBuilder zip;
    zip.File(fits, "fits").File(tooLong, "too long").Dir(tooLong.substr(1));

    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{fits, "fits"}}));
}

}  // namespace
}  // namespace qxtest
