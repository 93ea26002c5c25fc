// Splitting, trimming, path joining and the code-page conversions: the exact pieces the parser
// and every path builder rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsutil/paths.h"
#include "fsutil/text.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& text, const std::wstring& separator) {
    std::vector<std::wstring> pieces;
    SplitString(text, separator, pieces);
    return pieces;
}

std::wstring Trimmed(std::wstring text) {
    EXPECT_TRUE(TrimLeft(text));
    EXPECT_TRUE(TrimRight(text));
    return text;
}

using Pieces = std::vector<std::wstring>;

}  // namespace

TEST(SplitString, DropsEmptyPiecesButAnEmptyTextIsOnePiece) {
    EXPECT_EQ(Split(L"a\n\nb\n", L"\n"), (Pieces{L"a", L"b"}));
    EXPECT_EQ(Split(L"\n\na\nbc", L"\n"), (Pieces{L"a", L"bc"}));
    EXPECT_EQ(Split(L"abc", L"\n"), (Pieces{L"abc"}));
    EXPECT_EQ(Split(L"", L"\n"), (Pieces{L""}));
    EXPECT_EQ(Split(L"\n\n", L"\n"), Pieces{});
    EXPECT_EQ(Split(L"  a  b ", L" "), (Pieces{L"a", L"b"}));
}

TEST(SplitString, AppendsToWhatTheVectorHolds) {
    Pieces pieces = {L"old"};
    SplitString(L"a b", L" ", pieces);
    EXPECT_EQ(pieces, (Pieces{L"old", L"a", L"b"}));
}

TEST(SplitString, LongerSeparatorsNeverLeaveAPartOfThemselvesInAPiece) {
    EXPECT_EQ(Split(L"a<>b<><>c<>", L"<>"), (Pieces{L"a", L"b", L"c"}));
    EXPECT_EQ(Split(L"\r\n\r\nx\r\ny", L"\r\n"), (Pieces{L"x", L"y"}));
}

TEST(Trim, RemovesBlanksAndCarriageReturnsAtTheEndsOnly) {
    EXPECT_EQ(Trimmed(L" \rx \r"), L"x");
    EXPECT_EQ(Trimmed(L"  "), L"");
    EXPECT_EQ(Trimmed(L"\r"), L"");
    EXPECT_EQ(Trimmed(L""), L"");
    EXPECT_EQ(Trimmed(L" a \r b "), L"a \r b");
    EXPECT_EQ(Trimmed(L"\tx\n"), L"\tx\n");

    std::wstring leftOnly = L"  x  ";
    TrimLeft(leftOnly);
    EXPECT_EQ(leftOnly, L"x  ");
    std::wstring rightOnly = L"  x  ";
    TrimRight(rightOnly);
    EXPECT_EQ(rightOnly, L"  x");
}

TEST(JoinPath, NormalisesTheBaseAndAddsOneSeparator) {
    EXPECT_EQ(JoinPath(L"D:\\game\\", L"TmpPatch"), L"D:\\game\\TmpPatch");
    EXPECT_EQ(JoinPath(L"D:\\game", L"TmpPatch"), L"D:\\game\\TmpPatch");
    EXPECT_EQ(JoinPath(L"D:/game", L"a/b"), L"D:\\game\\a/b");
    EXPECT_EQ(JoinPath(L"D:/game/", L"x"), L"D:\\game\\x");
    EXPECT_EQ(JoinPath(L"", L"x"), L"x");
    EXPECT_EQ(JoinPath(L"", L""), L"");
    EXPECT_EQ(NormalizeSlashes(L"a/b\\c//"), L"a\\b\\c\\\\");
}

TEST(CodePageConversion, RoundTripsTextAndLeavesTheOutputAloneForEmptyInput) {
    const std::wstring wide = L"一键修复 1.2.3\r\n";
    std::string narrow;
    WideToAnsi(wide, narrow);
    EXPECT_FALSE(narrow.empty());
    std::wstring back;
    EXPECT_EQ(AnsiToWide(narrow, back), wide);

    std::string keptNarrow = "kept";
    EXPECT_EQ(WideToAnsi(L"", keptNarrow), "kept");
    std::wstring keptWide = L"kept";
    EXPECT_EQ(AnsiToWide("", keptWide), L"kept");
}

TEST(CodePageConversion, StopsAtTheFirstZero) {
    std::string narrow;
    WideToAnsi(std::wstring(L"ab\0cd", 5), narrow);
    EXPECT_EQ(narrow, "ab");
    std::wstring wide;
    AnsiToWide(std::string("1.2\0"
                           "3",
                           5),
               wide);
    EXPECT_EQ(wide, L"1.2");
}

TEST(CodePageConversion, ReplacesTheWholeOutput) {
    std::string narrow = "previous text";
    EXPECT_EQ(WideToAnsi(L"x", narrow), "x");
    std::wstring wide = L"previous text";
    EXPECT_EQ(AnsiToWide("y", wide), L"y");
}
