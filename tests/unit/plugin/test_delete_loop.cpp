// The delete loop of the plug-in removal, with the delete call replaced so that it can fail in
// ways a real file system will not: transient errors are retried at once and without a box, but a
// file that never goes away is no success.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/web_plugin.h"

namespace {

// The errors the next calls fail with, in order; once used up, the delete succeeds.
std::vector<DWORD> g_failures;
size_t g_attempts = 0;
DWORD g_everyTimeError = ERROR_SUCCESS;

BOOL WINAPI ScriptedDelete(LPCWSTR path) {
    EXPECT_STREQ(L"C:\\windows\\system32\\ZURuzezuZ.ocx", path);
    ++g_attempts;
    if (g_everyTimeError != ERROR_SUCCESS) {
        SetLastError(g_everyTimeError);
        return FALSE;
    }
    if (g_attempts <= g_failures.size()) {
        SetLastError(g_failures[g_attempts - 1]);
        return FALSE;
    }
    return TRUE;
}

class DeleteLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        g_failures.clear();
        g_attempts = 0;
        g_everyTimeError = ERROR_SUCCESS;
    }
    DeleteResult Run() {
        return DeleteControlFile(L"C:\\windows\\system32\\ZURuzezuZ.ocx", ScriptedDelete,
                                 MessageBoxW);
    }
};

TEST_F(DeleteLoop, TransientErrorsAreRetriedAtOnce) {
    g_failures = {ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE, ERROR_PATH_NOT_FOUND};
    EXPECT_EQ(DeleteResult::Deleted, Run());
    EXPECT_EQ(4u, g_attempts);
}

TEST_F(DeleteLoop, VanishedFileIsReportedAsNotInstalled) {
    g_failures = {ERROR_GEN_FAILURE, ERROR_FILE_NOT_FOUND};
    EXPECT_EQ(DeleteResult::NotFound, Run());
    EXPECT_EQ(2u, g_attempts);
}

TEST_F(DeleteLoop, FileThatNeverGoesAwayIsGivenUpAfterTenThousandAttempts) {
    g_everyTimeError = ERROR_GEN_FAILURE;
    EXPECT_EQ(DeleteResult::GaveUp, Run());
    EXPECT_EQ(10000u, g_attempts);
}

TEST_F(DeleteLoop, FileInUseAsksTheUserAndCancelEnds) {
    // No terminal and no scripted answers: the Retry/Cancel box is answered Cancel.
    unsetenv("QXWEB_ANSWERS");
    g_failures = {ERROR_ACCESS_DENIED};
    EXPECT_EQ(DeleteResult::Cancelled, Run());
    EXPECT_EQ(1u, g_attempts);
}

}  // namespace
