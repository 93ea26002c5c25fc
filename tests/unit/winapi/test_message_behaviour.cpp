// FormatMessageW in the one form the program uses for log lines: the system's text of an error
// code into the caller's buffer. The wording differs by language (Chinese on a Chinese system),
// so only its form is checked: a line that ends with "\r\n", as Windows' texts do.
#include <cwchar>
#include <string>

#include "winapi_fixture.h"

namespace {

DWORD SystemText(DWORD code, wchar_t* buffer, DWORD size) {
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                          0, buffer, size, nullptr);
}

TEST(SystemMessages, AnErrorsTextIsOneLineEndingInALineEnd) {
    for (DWORD code :
         {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_SHARING_VIOLATION,
          ERROR_ALREADY_EXISTS, ERROR_NOT_SAME_DEVICE, ERROR_DISK_FULL, ERROR_DIR_NOT_EMPTY}) {
        wchar_t text[512];
        DWORD length = SystemText(code, text, 512);
        ASSERT_GT(length, 2u) << code;
        EXPECT_EQ(std::wcslen(text), static_cast<size_t>(length)) << code;
        EXPECT_EQ(std::wstring(text).find(L"\r\n"), length - 2) << code;
    }
}

TEST(SystemMessages, AnUnknownCodeOrAShortBufferGetsNoText) {
    wchar_t text[512];
    EXPECT_EQ(SystemText(0xDEAD, text, 512), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, text, 3), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
