// MultiByteToWideChar / WideCharToMultiByte: UTF-8 as the system code page unless
// QXWEB_ANSI_CODEPAGE sets another, with the Win32 buffer rules callers rely on (size query,
// terminator with -1, too-small buffers).
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/scoped_env.h"

namespace {

std::wstring ToWide(const std::string& bytes, UINT codePage = CP_ACP) {
    int size =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    int written = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      &out[0], size);
    EXPECT_EQ(written, size);
    return out;
}

std::string ToNarrow(const std::wstring& text, UINT codePage = CP_ACP) {
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    int written = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      &out[0], size, nullptr, nullptr);
    EXPECT_EQ(written, size);
    return out;
}

TEST(CodePage, RoundTripsChineseAndAstralText) {
    const std::wstring text = L"一键修复 v1.0 \U0001F600";
    EXPECT_EQ(ToNarrow(text),
              "\xE4\xB8\x80\xE9\x94\xAE\xE4\xBF\xAE\xE5\xA4\x8D v1.0 \xF0\x9F\x98\x80");
    EXPECT_EQ(ToWide(ToNarrow(text)), text);
    EXPECT_EQ(ToWide(ToNarrow(text, CP_UTF8), CP_UTF8), text);
}

TEST(CodePage, MinusOneCountsAndWritesTheTerminator) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, nullptr, 0), 3);
    wchar_t wide[3] = {L'x', L'x', L'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, wide, 3), 3);
    EXPECT_EQ(std::wstring(wide), L"ab");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\x4E00", -1, nullptr, 0, nullptr, nullptr), 4);
}

TEST(CodePage, TooSmallBuffersAndBadArgumentsFail) {
    wchar_t wide[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char narrow[2];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\x4E00", 1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(936, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePage, InvalidInputIsReplacedAsWindowsDoes) {
    // A stray continuation byte, a truncated sequence, an overlong '/', an encoded surrogate.
    EXPECT_EQ(ToWide("a\x80"
                     "b"),
              L"a\xFFFD"
              L"b");
    EXPECT_EQ(ToWide("a\xE4\xB8"), L"a\xFFFD");
    EXPECT_EQ(ToWide("\xC0\xAF"), L"\xFFFD\xFFFD");
    EXPECT_EQ(ToWide("\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    const std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(ToNarrow(loneSurrogate, CP_UTF8), "\xEF\xBF\xBD");
    BOOL usedDefault = FALSE;
    char narrow[4] = {};
    EXPECT_EQ(
        WideCharToMultiByte(CP_ACP, 0, loneSurrogate.c_str(), 1, narrow, 4, nullptr, &usedDefault),
        1);
    EXPECT_EQ(std::string(narrow), "?");
    EXPECT_TRUE(usedDefault);
}

struct AnsiCase {
    const char* codePage;
    std::wstring text;
    bool held;  // survives the way to the code page and back
};

// Wide text to the code page and back, as a narrow path or a log line goes, for code pages of
// Chinese and English Windows; a value iconv cannot convert falls back to UTF-8.
TEST(CodePage, TheSetAnsiCodePageHoldsOnlyItsOwnCharacters) {
    const AnsiCase cases[] = {
        {"936", L"客户端 v1", true},   {"936", L"客户端 한글", false}, {"1252", L"café", true},
        {"1252", L"客户端", false},    {"", L"客户端 한글", true},     {"65001", L"한글", true},
        {"99999", L"한글 客户", true},
    };
    for (const AnsiCase& c : cases) {
        const qxtest::ScopedEnv codePage("QXWEB_ANSI_CODEPAGE", c.codePage);
        BOOL usedDefault = FALSE;
        char narrow[64] = {};
        const int length = WideCharToMultiByte(CP_ACP, 0, c.text.c_str(), -1, narrow, sizeof narrow,
                                               nullptr, &usedDefault);
        ASSERT_GT(length, 0) << c.codePage;
        EXPECT_EQ(usedDefault != FALSE, !c.held) << c.codePage;
        EXPECT_EQ(ToWide(std::string(narrow)) == c.text, c.held) << c.codePage;
        EXPECT_EQ(ToWide(ToNarrow(c.text, CP_UTF8), CP_UTF8), c.text) << c.codePage;
    }
}

TEST(CodePage, BytesThatAreNoCharacterOfTheSetCodePage) {
    const qxtest::ScopedEnv codePage("QXWEB_ANSI_CODEPAGE", "936");
    EXPECT_EQ(ToWide("\xD6\xD0\x81\x20"), L"中? ");
    EXPECT_EQ(ToWide("a\xD6"), L"a?");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\x81\x20", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace
