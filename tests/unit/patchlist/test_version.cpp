// Version texts: how they read (the "%d.%d.%d" rules) and how they compare, including texts that
// are not versions and numbers beyond the int range, which arrive from the network unchecked.
#include <gtest/gtest.h>

#include "patchlist/version.h"

TEST(CompareVersions, ComparesNumbersNotText) {
    EXPECT_EQ(CompareVersions(L"1.10.0", L"1.9.9"), 1);
    EXPECT_EQ(CompareVersions(L"1.9.9", L"1.10.0"), -1);
    EXPECT_EQ(CompareVersions(L"1.2.10", L"1.2.9"), 1);
    EXPECT_EQ(CompareVersions(L"2.0.0", L"1.99.99"), 1);
    EXPECT_EQ(CompareVersions(L"1.2.3", L"1.2.3"), 0);
}

TEST(CompareVersions, LeadingZerosAndTextAfterTheThirdNumberDoNotCount) {
    EXPECT_EQ(CompareVersions(L"01.002.3", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"1.2.3.4", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"1.2.3\r\n", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"1.2.3beta", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"1.2.3\r\n", L"1.2.4"), -1);
}

TEST(CompareVersions, BlanksAndSignsReadLikeScanfDecimals) {
    EXPECT_EQ(CompareVersions(L"1. 2. 3", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L" \t1.2.\n3", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"+1.+2.+3", L"1.2.3"), 0);
    EXPECT_EQ(CompareVersions(L"-1.0.0", L"0.0.0"), -1);
    EXPECT_EQ(CompareVersions(L"1.-2.0", L"1.0.0"), -1);
}

TEST(CompareVersions, TextThatIsNotAVersionEqualsEverything) {
    const wchar_t* notVersions[] = {L"",        L"1.2", L"1 .2.3", L"1..2.3", L"1.2.",
                                    L"- 1.0.0", L"abc", L"v1.2.3", L"1,2,3",  L".1.2.3"};
    for (const wchar_t* text : notVersions) {
        EXPECT_EQ(CompareVersions(text, L"9.9.9"), 0) << "text: " << testing::PrintToString(text);
        EXPECT_EQ(CompareVersions(L"0.0.0", text), 0) << "text: " << testing::PrintToString(text);
    }
    EXPECT_EQ(CompareVersions(L"1.2", L"1.2"), 0);
}

TEST(CompareVersions, NumbersAtTheIntLimitsReadButBeyondThemDoNot) {
    EXPECT_EQ(CompareVersions(L"2147483647.0.0", L"2147483646.9.9"), 1);
    EXPECT_EQ(CompareVersions(L"-2147483648.0.0", L"-2147483647.0.0"), -1);
    // Beyond the range a number is refused, never wrapped: 4294967297 must not read as 1.
    EXPECT_EQ(CompareVersions(L"1.0.4294967297", L"1.0.0"), 0);
    EXPECT_EQ(CompareVersions(L"2147483648.0.0", L"0.0.0"), 0);
    EXPECT_EQ(CompareVersions(L"-2147483649.0.0", L"0.0.0"), 0);
    EXPECT_EQ(CompareVersions(L"1.2.3", std::wstring(5000, L'9') + L".0.0"), 0);
}

TEST(IsNextMinorVersion, LooksAtTheMinorNumbersOnly) {
    EXPECT_TRUE(IsNextMinorVersion(L"2.3.9", L"2.4.0"));
    EXPECT_FALSE(IsNextMinorVersion(L"2.3.9", L"2.3.10"));
    EXPECT_TRUE(IsNextMinorVersion(L"2.3.9", L"7.4.1"));
    EXPECT_TRUE(IsNextMinorVersion(L"1.4.7", L"3.5.0"));
    EXPECT_FALSE(IsNextMinorVersion(L"1.4.7", L"1.6.0"));
    EXPECT_FALSE(IsNextMinorVersion(L"1.5.0", L"1.4.0"));
    EXPECT_TRUE(IsNextMinorVersion(L"1.-1.0", L"1.0.0"));
}

TEST(IsNextMinorVersion, FalseWhenEitherTextIsNotAVersion) {
    EXPECT_FALSE(IsNextMinorVersion(L"1.4", L"1.5.0"));
    EXPECT_FALSE(IsNextMinorVersion(L"1.4.0", L""));
    EXPECT_FALSE(IsNextMinorVersion(L"", L""));
    // The largest minor number has no successor; it must not wrap round to the smallest.
    EXPECT_FALSE(IsNextMinorVersion(L"1.2147483647.0", L"1.-2147483648.0"));
}
