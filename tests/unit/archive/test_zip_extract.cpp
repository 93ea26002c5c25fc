// The archive reader on well-formed archives: directory handling, the destination's form, names
// in either encoding, empty and duplicate entries, progress reports, and the unpacked size.
#include <filesystem>

#include "archive_fixture.h"
#include "support/scoped_env.h"

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
    for (const wchar_t* separator : {L"\\", L"/"}) {
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
    EXPECT_EQ(ReadHostFile(dir.host("out/a/b/c.txt")), text);
}

// A name flagged as UTF-8 must be UTF-8 and needs no form in the ANSI code page (paths are wide);
// any other name is text in the ANSI code page, decoded before it is split at its separators.
struct NameCase {
    const char* codePage;  // QXWEB_ANSI_CODEPAGE; "" for the layer's UTF-8
    std::string stored;
    bool flagged;
    const char* extractedAs;  // the host name; null when the entry is refused
};

class EntryNameTest : public ArchiveTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EntryNameTest, IsDecodedFromItsEncodingOrRefused) {
    const NameCase& name = GetParam();
    const ScopedEnv codePage("QXWEB_ANSI_CODEPAGE", name.codePage);
    ZipBuilder zip;
    zip.File("plain.txt", "plain").File(name.stored, "named");
    if (!name.flagged) {
        zip.UnflaggedName();
    }

    EXPECT_EQ(Extract(zip), name.extractedAs != nullptr);
    Tree expected{{"plain.txt", "plain"}};
    if (name.extractedAs != nullptr) {
        const std::string host = name.extractedAs;
        if (host.find('/') != std::string::npos) {
            expected[host.substr(0, host.find('/') + 1)] = "";
        }
        expected[host] = "named";
    }
    EXPECT_EQ(Output(), expected);
}

const std::string kGbkChinese = "\xD6\xD0\xCE\xC4.txt";  // "中文.txt" in code page 936
const std::string kGbkBackslashTrail = "\x9C\x5C.txt";   // "淺.txt": its second byte is "\\"

INSTANTIATE_TEST_SUITE_P(CodePages, EntryNameTest,
                         ::testing::Values(NameCase{"", "补丁/说明.txt", true, "补丁/说明.txt"},
                                           NameCase{"", kGbkChinese, true, nullptr},
                                           NameCase{"", kGbkChinese, false, nullptr},
                                           NameCase{"936", kGbkChinese, false, "中文.txt"},
                                           NameCase{"936", kGbkBackslashTrail, false, "淺.txt"},
                                           NameCase{"936", "한글/中文.txt", true, "한글/中文.txt"},
                                           NameCase{"936", "\x81\x20.txt", false, nullptr},
                                           NameCase{"1252", "caf\xE9.txt", false, "café.txt"}));

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

// What the free-space check counts: the files an extraction would write, not the folders nor
// the entries it refuses.
TEST_F(ArchiveTest, TheUnpackedSizeCountsTheFilesThatWouldBeWritten) {
    ZipBuilder zip;
    zip.Dir("d").File("d/a.bin", std::string(70000, 'a')).File("b.txt", "bb", ZipMethod::Stored);
    zip.File("../evil.txt", std::string(5000, 'e')).Zip64();
    zip.WriteTo(dir.host("in.zip"));

    uint64_t size = 0;
    EXPECT_TRUE(ArchiveUnpackedSize(ArchivePath(), &size, &failure));
    EXPECT_EQ(size, 70002u);
    EXPECT_FALSE(failure.Recorded());
}

TEST_F(ArchiveTest, AMissingArchiveOrOneThatIsNoZipWritesNothingAndSaysWhy) {
    uint64_t size = 1;
    EXPECT_FALSE(Extract());
    EXPECT_EQ(failure.call, L"CreateFileW");
    EXPECT_EQ(failure.path, ArchivePath());
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(ArchiveUnpackedSize(ArchivePath(), &size));
    EXPECT_EQ(size, 0u);

    WriteHostFile(dir.host("in.zip"), "PK\x03\x04 this is not an archive at all");
    ZipFile reader(ArchivePath());
    EXPECT_FALSE(reader.IndexEntries());
    EXPECT_FALSE(Extract());
    EXPECT_EQ(failure.call, L"ExtractArchive");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Output(), Tree{});
    FileFailure sizeFailure;
    EXPECT_FALSE(ArchiveUnpackedSize(ArchivePath(), &size, &sizeFailure));
    EXPECT_EQ(sizeFailure.error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace
}  // namespace qxtest
