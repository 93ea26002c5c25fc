// The termination loop of the start-up, driven through a substitute for the process calls: which
// processes are tried, in which order, when the loop stops and how many count as ended.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "client/game_process.h"

namespace {

// What each scripted process does when asked; a process not in the script opens and ends.
struct Behaviour {
    bool opens = true;
    bool terminates = true;
    DWORD waitResult = WAIT_OBJECT_0;
};

std::map<DWORD, Behaviour> g_script;
std::vector<std::string> g_calls;

HANDLE ToHandle(DWORD pid) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(pid));
}
DWORD ToPid(HANDLE handle) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(handle));
}

HANDLE WINAPI FakeOpen(DWORD access, BOOL inherit, DWORD pid) {
    EXPECT_EQ(static_cast<DWORD>(PROCESS_TERMINATE | SYNCHRONIZE), access);
    EXPECT_FALSE(inherit);
    g_calls.push_back("open " + std::to_string(pid));
    return g_script[pid].opens ? ToHandle(pid) : nullptr;
}
BOOL WINAPI FakeTerminate(HANDLE process, UINT exitCode) {
    EXPECT_EQ(0u, exitCode);
    g_calls.push_back("terminate " + std::to_string(ToPid(process)));
    return g_script[ToPid(process)].terminates;
}
DWORD WINAPI FakeWait(HANDLE process, DWORD milliseconds) {
    EXPECT_EQ(500u, milliseconds);
    g_calls.push_back("wait " + std::to_string(ToPid(process)));
    return g_script[ToPid(process)].waitResult;
}
BOOL WINAPI FakeClose(HANDLE process) {
    g_calls.push_back("close " + std::to_string(ToPid(process)));
    return TRUE;
}

const ProcessControl kFake = {FakeOpen, FakeTerminate, FakeWait, FakeClose};

class TerminationLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        g_script.clear();
        g_calls.clear();
    }
};

TEST_F(TerminationLoop, EndsEveryProcessInListOrder) {
    EXPECT_EQ(2u, TerminateGameProcesses({7, 3}, kFake));
    EXPECT_EQ((std::vector<std::string>{"open 7", "terminate 7", "wait 7", "close 7", "open 3",
                                        "terminate 3", "wait 3", "close 3"}),
              g_calls);
}

TEST_F(TerminationLoop, ProcessThatCannotBeOpenedIsSkippedAndTheNextStillEnds) {
    g_script[7].opens = false;
    EXPECT_EQ(1u, TerminateGameProcesses({7, 3}, kFake));
    EXPECT_EQ((std::vector<std::string>{"open 7", "open 3", "terminate 3", "wait 3", "close 3"}),
              g_calls);
}

TEST_F(TerminationLoop, FailedTerminationStopsTheLoopAndLeavesTheRest) {
    g_script[7].terminates = false;
    EXPECT_EQ(0u, TerminateGameProcesses({7, 3}, kFake));
    EXPECT_EQ((std::vector<std::string>{"open 7", "terminate 7", "close 7"}), g_calls);
}

TEST_F(TerminationLoop, ProcessStillAliveAfterTheWaitStopsTheLoop) {
    g_script[3].waitResult = WAIT_TIMEOUT;
    EXPECT_EQ(1u, TerminateGameProcesses({7, 3, 9}, kFake));
    EXPECT_EQ((std::vector<std::string>{"open 7", "terminate 7", "wait 7", "close 7", "open 3",
                                        "terminate 3", "wait 3", "close 3"}),
              g_calls);
}

}  // namespace
