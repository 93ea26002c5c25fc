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

TEST_F(ArchiveTest, AFileWhoseFolderHasNoEntryIsWrittenOnlyWhenTheFolderExists) {
    ZipBuilder zip;
    zip.File("x/y.txt", "y");
    EXPECT_FALSE(Extract(zip));
    EXPECT_EQ(Output(), Tree{});

    std::filesystem::create_directories(dir.host("out/x"));
    EXPECT_TRUE(ExtractArchive(ArchivePath(), Destination(), recorder));
    EXPECT_EQ(Output(), (Tree{{"x/", ""}, {"x/y.txt", "y"}}));
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
