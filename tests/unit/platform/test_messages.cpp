// The layer's system texts: every error code the layer declares has one, so a failure the layer
// reports can always be named in the log.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "platform/win32.h"

namespace {

DWORD SystemText(DWORD code, wchar_t* buffer, DWORD size) {
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                          0, buffer, size, nullptr);
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

}  // namespace
