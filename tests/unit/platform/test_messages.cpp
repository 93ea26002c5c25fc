// The layer's system texts: every error code the layer declares has one, so a failure the layer
// reports can always be named in the log; and the forms of FormatMessageW it does not serve fail.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "platform/win32.h"

namespace {

DWORD SystemText(DWORD code, wchar_t* buffer, DWORD size, DWORD language = 0) {
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                          language, buffer, size, nullptr);
}

TEST(SystemMessages, EveryErrorCodeTheLayerDeclaresHasAText) {
    std::ifstream header(QX_SOURCE_DIR "/src/platform/posix/win32_posix.h");
    ASSERT_TRUE(header.is_open());
    const std::regex definition(R"(#define (ERROR_\w+) (\d+)L)");
    std::string line;
    int codes = 0;
    while (std::getline(header, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, definition)) {
            continue;
        }
        ++codes;
        wchar_t text[512];
        DWORD length = SystemText(static_cast<DWORD>(std::stoul(match[2])), text, 512);
        EXPECT_GT(length, 2u) << match[1];
        EXPECT_EQ(std::wstring(text).find(L"\r\n"), length - 2) << match[1];
    }
    EXPECT_GT(codes, 40);

    wchar_t text[512];
    ASSERT_EQ(SystemText(ERROR_ACCESS_DENIED, text, 512), 19u);
    EXPECT_EQ(std::wstring(text), L"Access is denied.\r\n");
}

TEST(SystemMessages, OnlyEnglishSystemTextsIntoTheCallersBufferAreServed) {
    wchar_t text[512];
    EXPECT_GT(SystemText(ERROR_ACCESS_DENIED, text, 512, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)),
              0u);
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, text, 512, 0x0804), 0u);  // Chinese
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
    for (DWORD flags :
         {FORMAT_MESSAGE_FROM_SYSTEM, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                          FORMAT_MESSAGE_ALLOCATE_BUFFER}) {
        EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED, 0, text, 512, nullptr), 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

}  // namespace
