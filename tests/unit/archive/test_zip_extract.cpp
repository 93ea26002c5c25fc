// The archive reader on well-formed archives: directory handling, the destination's form, empty
// and duplicate entries, progress reports, and reading single entries.
#include <filesystem>

#include "archive_fixture.h"

namespace qxtest {
namespace {

using Calls = std::vector<std::pair<int, int>>;

TEST_F(ArchiveTest, DirectoriesAreMadeBeforeTheFilesInsideThemWhateverTheArchiveOrder) {
    ZipBuilder zip;
    zip.File("a/b/e.txt", "e").Dir("a/b").File("g.txt", "g", ZipMethod::Stored).Dir("a");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"a/", ""}, {"a/b/", ""}, {"a/b/e.txt", "e"}, {"g.txt", "g"}}));
    EXPECT_EQ(ProgressCalls(), (Calls{{1, 2}, {2, 2}}));
}

TEST_F(ArchiveTest, FourFilesReportOneToFourOfFour) {
    ZipBuilder zip;
    zip.File("1", "a").File("2", "b").Dir("d").File("d/3", "c").File("4", std::string(70000, 'x'));

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(ProgressCalls(), (Calls{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
}

TEST_F(ArchiveTest, ATrailingSeparatorOnTheDestinationChangesNothing) {
    ZipBuilder zip;
    zip.Dir("a").File("a/f.txt", "f");
    zip.WriteTo(dir.host("in.zip"));
    const Tree expected{{"a/", ""}, {"a/f.txt", "f"}};
    for (const char* separator : {"\\", "/"}) {
        std::filesystem::remove_all(dir.host("out"));
        MakeDestination();
        EXPECT_TRUE(ExtractArchive(ArchivePath(), Destination() + separator, recorder));
        EXPECT_EQ(Output(), expected) << separator;
    }
}

// Many tools write "dir/file" without a "dir/" entry, or "a/b/" without "a/": every folder an
// entry lies in is made all the same.
TEST_F(ArchiveTest, FoldersWithoutEntriesOfTheirOwnAreMade) {
    ZipBuilder zip;
    zip.File("x/y/z.txt", "z").File("x/w.txt", "w").Dir("p/q").File("top.txt", "t");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"p/", ""},
                              {"p/q/", ""},
                              {"top.txt", "t"},
                              {"x/", ""},
                              {"x/w.txt", "w"},
                              {"x/y/", ""},
                              {"x/y/z.txt", "z"}}));
    EXPECT_EQ(ProgressCalls(), (Calls{{1, 3}, {2, 3}, {3, 3}}));
}

// zip64 archives keep sizes and offsets in extra fields and the entry count in end records of
// their own, with placeholders in the classic fields.
TEST_F(ArchiveTest, AZip64ArchiveIsReadThroughItsExtraFieldsAndEndRecords) {
    const std::string stored(70000, 's');
    const std::string text(5000, 't');
    ZipBuilder zip;
    zip.Zip64().File("a/b/c.txt", text).File("stored.bin", stored, ZipMethod::Stored).Dir("empty");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"a/", ""},
                              {"a/b/", ""},
                              {"a/b/c.txt", "5000 bytes"},
                              {"empty/", ""},
                              {"stored.bin", "70000 bytes"}}));
    ZipFile reader(ArchivePath(), "");
    uint32_t size = 0;
    const auto data = reader.ReadEntry("a/b/c.txt", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), size), text);
}

// On Linux the system code page is UTF-8, so a flagged name converts to itself; what the flag
// decides here is that a flagged name must be UTF-8, while the same bytes unflagged are a name in
// the system code page, used as they are.
TEST_F(ArchiveTest, ANameFlaggedAsUtf8MustBeUtf8) {
    const std::string gbk = "\xD6\xD0\xCE\xC4.txt";  // "中文.txt" in code page 936
    ZipBuilder flagged;
    flagged.File("补丁/说明.txt", "utf-8").File(gbk, "gbk");
    EXPECT_FALSE(Extract(flagged));
    EXPECT_EQ(Output(), (Tree{{"补丁/", ""}, {"补丁/说明.txt", "utf-8"}}));

    ZipBuilder unflagged;
    unflagged.File(gbk, "gbk").UnflaggedName();
    std::filesystem::remove_all(dir.host("out"));
    EXPECT_TRUE(Extract(unflagged));
    EXPECT_EQ(ProgressCalls().back(), std::make_pair(1, 1));
}

TEST_F(ArchiveTest, EmptyFilesCountAndTheLastOfTwoSameNamesWins) {
    ZipBuilder zip;
    zip.File("dup.txt", "first").File("empty.bin", "", ZipMethod::Stored).File("dup.txt", "second");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"dup.txt", "second"}, {"empty.bin", ""}}));
    EXPECT_EQ(ProgressCalls(), (Calls{{1, 2}, {2, 2}}));
}

TEST_F(ArchiveTest, ADirectoryOnlyArchiveMakesTheFoldersWithoutProgress) {
    ZipBuilder zip;
    zip.Dir("d1").Dir("d1/d2").Dir("d3\\");

    EXPECT_TRUE(Extract(zip));
    EXPECT_EQ(Output(), (Tree{{"d1/", ""}, {"d1/d2/", ""}, {"d3/", ""}}));
    EXPECT_TRUE(ProgressCalls().empty());
}

// minizip does not open an archive without entries, so there is nothing to extract: the result
// is false, and not even the destination is made.
TEST_F(ArchiveTest, AnArchiveWithoutEntriesMakesNothing) {
    ZipBuilder().WriteTo(dir.host("in.zip"));

    EXPECT_FALSE(ExtractArchive(ArchivePath(), Destination(), recorder));
    EXPECT_FALSE(std::filesystem::exists(dir.host("out")));
}

TEST_F(ArchiveTest, ReadEntryGivesOneWholeEntryAndTheFilterLimitsTheIndex) {
    const std::string big(300000, 'q');
    ZipBuilder zip;
    zip.File("keep/a.txt", "alpha").File("keep/big.bin", big).File("other/b.txt", "beta");
    zip.WriteTo(dir.host("in.zip"));

    ZipFile reader(ArchivePath(), "keep/");
    uint32_t size = 99;
    auto data = reader.ReadEntry("keep/big.bin", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), size), big);

    EXPECT_EQ(reader.ReadEntry("other/b.txt", &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(reader.ReadEntry("", &size), nullptr);

    ASSERT_TRUE(reader.IndexEntries(""));
    data = reader.ReadEntry("other/b.txt", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), size), "beta");
}

TEST_F(ArchiveTest, AMissingArchiveOrOneThatIsNoZipWritesNothing) {
    MakeDestination();
    EXPECT_FALSE(ExtractArchive(ArchivePath(), Destination(), recorder));

    WriteHostFile(dir.host("in.zip"), "PK\x03\x04 this is not an archive at all");
    ZipFile reader(ArchivePath(), "");
    EXPECT_FALSE(reader.IndexEntries(""));
    EXPECT_FALSE(reader.ExtractAll(Destination(), recorder));
    EXPECT_EQ(Output(), Tree{});
}

}  // namespace
}  // namespace qxtest
