// Folder searches: "." and ".." first like Windows, then every entry with its attributes, for
// both patterns the program uses; an exact name finds that one entry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using Listing = std::vector<std::pair<std::wstring, DWORD>>;

Listing Find(const std::wstring& pattern) {
    Listing listing;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return listing;
    }
    do {
        listing.emplace_back(data.cFileName, data.dwFileAttributes);
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return listing;
}

class FindFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        qxtest::WriteHostFile(dir_.host("b.txt"), "bb");
        qxtest::WriteHostFile(dir_.host("A.dat"), "a");
        qxtest::WriteHostFile(dir_.host("sub/inner.txt"), "i");
        qxtest::WriteHostFile(dir_.host(".cache"), "");
        ::symlink(dir_.host("sub").c_str(), dir_.host("c-link").c_str());
    }
    qxtest::TempDir dir_;
};

TEST_F(FindFiles, ListsDotsFirstThenEveryEntryWithItsAttributes) {
    const Listing expected = {
        {L".", FILE_ATTRIBUTE_DIRECTORY},
        {L"..", FILE_ATTRIBUTE_DIRECTORY},
        {L".cache", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {L"A.dat", FILE_ATTRIBUTE_ARCHIVE},
        {L"b.txt", FILE_ATTRIBUTE_ARCHIVE},
        {L"c-link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
        {L"sub", FILE_ATTRIBUTE_DIRECTORY},
    };
    EXPECT_EQ(Find(dir_.win() + L"\\*.*"), expected);
    EXPECT_EQ(Find(dir_.win() + L"\\*"), expected);
    EXPECT_EQ(Find(dir_.win() + L"/*.*"), expected);
}

TEST_F(FindFiles, ExactNameAndNarrowPatterns) {
    EXPECT_EQ(Find(dir_.win("b.txt")), (Listing{{L"b.txt", FILE_ATTRIBUTE_ARCHIVE}}));
    EXPECT_EQ(Find(dir_.win() + L"\\*.TXT"), (Listing{{L"b.txt", FILE_ATTRIBUTE_ARCHIVE}}));
}

// A pattern that matches nothing names a missing file (a missing folder: tests/unit/winapi).
TEST_F(FindFiles, NothingFoundIsAMissingFile) {
    WIN32_FIND_DATAW data;
    EXPECT_EQ(FindFirstFileW(dir_.win("none.txt").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW((dir_.win() + L"\\*.zip").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
