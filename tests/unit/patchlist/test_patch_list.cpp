// The patch-list document as the parser reads it (lines, blanks, headers, token counts, full
// packages) and the order of the list afterwards, also when some versions do not parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "patchlist/patch_list.h"
#include "patchlist/version.h"
#include "support/process_globals.h"

namespace {

class PatchListTest : public testing::Test {
  protected:
    void SetUp() override { qxtest::ResetProcessGlobals(); }
    void TearDown() override { qxtest::ResetProcessGlobals(); }

    static std::vector<PatchEntry> Parse(const std::wstring& document) {
        qxtest::ResetProcessGlobals();
        EXPECT_TRUE(ParsePatchList(document));
        return g_patchList;
    }
};

PatchEntry Entry(const std::wstring& version, const std::wstring& url, int32_t number,
                 const std::wstring& info, const std::wstring& packageVersion = L"",
                 const std::wstring& packageInfo = L"") {
    PatchEntry entry;
    entry.version = version;
    entry.url = url;
    entry.number = number;
    entry.info = info;
    entry.packageVersion = packageVersion;
    entry.packageInfo = packageInfo;
    return entry;
}

std::vector<std::wstring> Versions(const std::vector<PatchEntry>& entries) {
    std::vector<std::wstring> versions;
    for (const PatchEntry& entry : entries) {
        versions.push_back(entry.version);
    }
    return versions;
}

}  // namespace

TEST_F(PatchListTest, EmptyDocumentsGiveNothing) {
    for (const wchar_t* document : {L"", L"\n", L"\n\n\n", L"  \r\n \r\n"}) {
        EXPECT_TRUE(Parse(document).empty());
        EXPECT_TRUE(g_patchListHeaders.empty());
    }
}

TEST_F(PatchListTest, CrLfAndLfLineEndsGiveTheSameRecordsButCrAloneIsOneLine) {
    const std::vector<PatchEntry> expected = {Entry(L"1.2.3", L"a/b.zip", 10, L"x"),
                                              Entry(L"1.2.4", L"a/c.zip", 11, L"y")};
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x\n1.2.4 a/c.zip 11 y\n"), expected);
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x\r\n1.2.4 a/c.zip 11 y\r\n"), expected);
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x\r\n\r\n\n1.2.4 a/c.zip 11 y"), expected);
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x\r1.2.4 a/c.zip 11 y\r"),
              std::vector<PatchEntry>{Entry(L"1.2.3", L"a/b.zip", 10, L"x\r1.2.4")});
}

TEST_F(PatchListTest, BlanksBetweenTokensAndIndentationDoNotMatterButTabsDo) {
    const std::vector<PatchEntry> expected = {Entry(L"1.2.3", L"a/b.zip", 10, L"x")};
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x"), expected);
    EXPECT_EQ(Parse(L"   1.2.3    a/b.zip  10   x   \r\n"), expected);
    EXPECT_EQ(Parse(L"\r 1.2.3 a/b.zip 10 x \r \r\n"), expected);
    // A tab is an ordinary character: here it glues two tokens into one, leaving three.
    EXPECT_TRUE(Parse(L"1.2.3\ta/b.zip 10 x").empty());
}

TEST_F(PatchListTest, LinesNeedFourTokensAndKeepOnlyTheFirstFourOfOrdinaryLines) {
    EXPECT_TRUE(Parse(L"1.2.3 a/b.zip 10\n1.2.3\n1.2.3 a/b.zip\n").empty());
    EXPECT_EQ(Parse(L"1.2.3 a/b.zip 10 x y 1.3.0 z extra more\n"),
              std::vector<PatchEntry>{Entry(L"1.2.3", L"a/b.zip", 10, L"x")});
}

TEST_F(PatchListTest, FullPackageLinesCarryTokensSixAndSeven) {
    EXPECT_EQ(Parse(L"0.0.0 a/full.zip 5 x y 1.3.0 z\n"),
              std::vector<PatchEntry>{Entry(L"0.0.0", L"a/full.zip", 5, L"x", L"1.3.0", L"z")});
    EXPECT_EQ(Parse(L"0.0.0 a/full.zip 5 x y 1.3.0 z tail\n"),
              std::vector<PatchEntry>{Entry(L"0.0.0", L"a/full.zip", 5, L"x", L"1.3.0", L"z")});
    // Only the exact text 0.0.0 marks a full package, not a text that reads as the same numbers.
    EXPECT_EQ(Parse(L"0.0.00 a/full.zip 5 x y 1.3.0 z\n00.0.0 a/full.zip 5 x y 1.3.0 z\n"),
              (std::vector<PatchEntry>{Entry(L"0.0.00", L"a/full.zip", 5, L"x"),
                                       Entry(L"00.0.0", L"a/full.zip", 5, L"x")}));
}

TEST_F(PatchListTest, ShortFullPackageLinesGetEmptyPackageFields) {
    EXPECT_EQ(
        Parse(L"0.0.0 a/full.zip 5 x\n0.0.0 a/full.zip 5 x y\n0.0.0 a/full.zip 5 x y 1.3.0\n"),
        (std::vector<PatchEntry>{Entry(L"0.0.0", L"a/full.zip", 5, L"x"),
                                 Entry(L"0.0.0", L"a/full.zip", 5, L"x"),
                                 Entry(L"0.0.0", L"a/full.zip", 5, L"x", L"1.3.0")}));
}

TEST_F(PatchListTest, HeaderLinesFillTheHeaderTableOnly) {
    const std::vector<PatchEntry> entries = Parse(
        L"#channel web\n#note\n#k  v\n  #region east asia \r\n#channel beta\n"
        L"1.0.0 a.zip 1 i\n");
    EXPECT_EQ(entries, std::vector<PatchEntry>{Entry(L"1.0.0", L"a.zip", 1, L"i")});
    const std::map<std::wstring, std::wstring> expected = {
        {L"channel", L"beta"}, {L"k", L" v"}, {L"region", L"east asia"}};
    EXPECT_EQ(g_patchListHeaders, expected);
}

TEST_F(PatchListTest, NumberReadsLeadingDigitsLikeWtoi) {
    const std::vector<PatchEntry> entries =
        Parse(L"1.0.0 a 12abc i\n1.0.1 b abc i\n1.0.2 c -7 i\n1.0.3 d +8 i\n");
    std::vector<int32_t> numbers;
    for (const PatchEntry& entry : entries) {
        numbers.push_back(entry.number);
    }
    EXPECT_EQ(numbers, (std::vector<int32_t>{12, 0, -7, 8}));
}

TEST_F(PatchListTest, ParsingAppendsToTheList) {
    ParsePatchList(L"1.0.0 a 1 i\n");
    ParsePatchList(L"1.0.1 b 2 j\n");
    EXPECT_EQ(Versions(g_patchList), (std::vector<std::wstring>{L"1.0.0", L"1.0.1"}));
}

TEST_F(PatchListTest, SortOrdersVersionsNumericallyWithFullPackagesFirst) {
    Parse(L"1.10.0 a 1 i\n1.9.0 b 1 i\n0.0.0 f 1 i p 1.9.0 q\n1.9.10 c 1 i\n1.2.3 d 1 i\n");
    SortPatchList();
    EXPECT_EQ(Versions(g_patchList),
              (std::vector<std::wstring>{L"0.0.0", L"1.2.3", L"1.9.0", L"1.9.10", L"1.10.0"}));
    EXPECT_TRUE(std::is_sorted(g_patchList.begin(), g_patchList.end(), ComparePatchEntries));
}

TEST_F(PatchListTest, SortOfALargeListOfVersionsIsAscending) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> number(0, 30);
    for (int i = 0; i < 5000; ++i) {
        g_patchList.push_back(Entry(std::to_wstring(number(random)) + L"." +
                                        std::to_wstring(number(random)) + L"." +
                                        std::to_wstring(number(random)),
                                    L"u", i, L"i"));
    }
    SortPatchList();
    EXPECT_TRUE(std::is_sorted(g_patchList.begin(), g_patchList.end(), ComparePatchEntries));
}

// Versions that do not parse compare equal to everything, which breaks the ordering's rules. The
// sort must still only permute the list: same entries, none lost, none duplicated, no stray reads
// (the sanitizer build watches the last part).
TEST_F(PatchListTest, SortStaysInsideTheListWhenManyVersionsDoNotParse) {
    std::mt19937 random(20240531);
    const wchar_t* unreadable[] = {L"x", L"", L"1.2", L"1 .2.3", L"?"};
    for (int round = 0; round < 40; ++round) {
        qxtest::ResetProcessGlobals();
        const int size = std::uniform_int_distribution<int>(0, 600)(random);
        for (int i = 0; i < size; ++i) {
            std::wstring version;
            if (random() % 2 == 0) {
                version = unreadable[random() % 5];
            } else {
                version = std::to_wstring(random() % 4) + L"." + std::to_wstring(random() % 4) +
                          L"." + std::to_wstring(random() % 4);
            }
            g_patchList.push_back(Entry(version, L"u", i, L"i"));
        }
        SortPatchList();
        // Every entry carries its original index as its number: those must be 0..size-1 again.
        std::vector<int32_t> indexes;
        for (const PatchEntry& entry : g_patchList) {
            indexes.push_back(entry.number);
        }
        std::sort(indexes.begin(), indexes.end());
        std::vector<int32_t> expected(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i) {
            expected[static_cast<size_t>(i)] = i;
        }
        ASSERT_EQ(indexes, expected);
    }
}
