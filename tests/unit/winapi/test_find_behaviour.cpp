// Folder listing with FindFirstFileW/FindNextFileW as the folder walks use it ("<folder>\*"):
// "." and "..", names, attributes and sizes, and the errors of a missing folder.
#include <map>
#include <string>

#include "winapi_fixture.h"

namespace {

struct Found {
    DWORD attributes;
    DWORD size;
    bool operator==(const Found& other) const {
        return attributes == other.attributes && size == other.size;
    }
};

void PrintTo(const Found& found, std::ostream* out) {
    *out << "{attributes " << found.attributes << ", size " << found.size << "}";
}

class FindCalls : public qxtest::Win32Folder {
  protected:
    // Every entry the listing of "<folder>\*" returns, by name; false when FindFirstFileW fails.
    bool List(const std::string& folder, std::map<std::wstring, Found>* entries) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((Win(folder) + L"\\*").c_str(), &data);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        do {
            (*entries)[data.cFileName] = Found{data.dwFileAttributes, data.nFileSizeLow};
        } while (FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(search));
        return true;
    }
};

TEST_F(FindCalls, ListsDotEntriesFilesAndFoldersWithTheirAttributes) {
    Write("tree/a.txt", "12345");
    Write("tree/只读.txt", "ro");
    SetReadOnly("tree/只读.txt", true);
    Write("tree/sub/deeper.txt", "not listed");
    MakeFolder("tree/empty");

    std::map<std::wstring, Found> entries;
    ASSERT_TRUE(List("tree", &entries));
    const std::map<std::wstring, Found> expected = {
        {L".", {FILE_ATTRIBUTE_DIRECTORY, 0}},
        {L"..", {FILE_ATTRIBUTE_DIRECTORY, 0}},
        {L"a.txt", {FILE_ATTRIBUTE_ARCHIVE, 5}},
        {L"只读.txt", {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 2}},
        {L"sub", {FILE_ATTRIBUTE_DIRECTORY, 0}},
        {L"empty", {FILE_ATTRIBUTE_DIRECTORY, 0}},
    };
    EXPECT_EQ(entries, expected);
    SetReadOnly("tree/只读.txt", false);
}

TEST_F(FindCalls, AnEmptyFolderListsOnlyItsDotEntries) {
    MakeFolder("empty");
    std::map<std::wstring, Found> entries;
    ASSERT_TRUE(List("empty", &entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count(L"."), 1u);
    EXPECT_EQ(entries.count(L".."), 1u);
}

TEST_F(FindCalls, AMissingFolderOrAFileCannotBeListed) {
    Write("file.txt", "f");
    std::map<std::wstring, Found> entries;
    EXPECT_FALSE(List("missing", &entries));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(List("missing/deeper", &entries));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(List("file.txt", &entries));
    EXPECT_TRUE(entries.empty());
}

}  // namespace
