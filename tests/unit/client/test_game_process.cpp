// Game-process detection against real processes: a copy of a small program is started as the
// game from a temporary client folder, and both listings must find it, or pass it over, exactly
// as the game-process rule says. Also the folder test on its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/game_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// How the program sees a host path: drive Z: is the Linux root.
std::wstring WinPath(const fs::path& path) {
    return qxtest::WinPath(path.string());
}

// A copy of sleep started under the given file name; killed and reaped when it goes out of
// scope. A thread reaps it as soon as it ends, so an ended process leaves no zombie behind.
class GameProcess {
  public:
    explicit GameProcess(const fs::path& exe) {
        fs::create_directories(exe.parent_path());
        fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
        fs::permissions(exe, fs::perms::owner_all);
        std::string program = exe.string();
        std::string seconds = "600";
        char* argv[] = {&program[0], &seconds[0], nullptr};
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = 0;
        if (pid_ > 0)
            reaper_ = std::thread([this] {
                waitpid(pid_, nullptr, 0);
                ended_ = true;
            });
    }
    ~GameProcess() {
        if (pid_ > 0 && !ended_)
            kill(pid_, SIGKILL);
        if (reaper_.joinable())
            reaper_.join();
    }
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    uint32_t Pid() const { return static_cast<uint32_t>(pid_); }
    bool Started() const { return pid_ > 0; }
    bool Ended() const { return ended_; }

  private:
    pid_t pid_ = 0;
    std::atomic<bool> ended_{false};
    std::thread reaper_;
};

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

bool Contains(const std::vector<uint32_t>& pids, uint32_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// Runs both listings over one folder form; each must succeed. Returns {snapshot, enum} hits.
struct Found {
    bool bySnapshot;
    bool byEnum;
};
Found FindWithBoth(const std::wstring& folder, uint32_t pid) {
    std::vector<uint32_t> snapshot{12345};  // stale content: each search empties the list first
    std::vector<uint32_t> enumerated{12345};
    EXPECT_TRUE(FindGameProcessesBySnapshot(folder, snapshot));
    EXPECT_TRUE(FindGameProcessesByEnum(folder, enumerated));
    EXPECT_FALSE(Contains(snapshot, 12345));
    EXPECT_FALSE(Contains(enumerated, 12345));
    return {Contains(snapshot, pid), Contains(enumerated, pid)};
}

class GameProcessTest : public ::testing::Test {
  protected:
    qxtest::TempDir temp_;
    fs::path client_ = fs::path(temp_.host()) / "Client";
};

TEST_F(GameProcessTest, GameBesideItsLibraryIsFoundByBothListingsInEveryFolderForm) {
    Touch(client_ / "vazazu.dll");
    GameProcess game(client_ / "vazazu.exe");
    ASSERT_TRUE(game.Started());

    const std::wstring plain = WinPath(client_);
    std::wstring slashes = plain;
    std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
    std::wstring upper = plain;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    for (const std::wstring& folder : {plain, plain + L"\\", slashes, upper}) {
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        const Found found = FindWithBoth(folder, game.Pid());
        EXPECT_TRUE(found.bySnapshot);
        EXPECT_TRUE(found.byEnum);
    }
}

TEST_F(GameProcessTest, GameWithoutLibraryIsFoundOnlyUnderABinFolder) {
    GameProcess inBin(client_ / "bin64" / "vazazu.exe");
    GameProcess plain(client_ / "game" / "vazazu.exe");
    ASSERT_TRUE(inBin.Started() && plain.Started());

    const Found binFound = FindWithBoth(WinPath(client_), inBin.Pid());
    EXPECT_TRUE(binFound.bySnapshot);
    EXPECT_TRUE(binFound.byEnum);
    const Found plainFound = FindWithBoth(WinPath(client_), plain.Pid());
    EXPECT_FALSE(plainFound.bySnapshot);
    EXPECT_FALSE(plainFound.byEnum);
}

TEST_F(GameProcessTest, OtherInstallationsAndOtherNamesArePassedOver) {
    const fs::path other = fs::path(temp_.host()) / "OtherClient";
    const fs::path sibling =
        fs::path(temp_.host()) / "Client2";  // shares the folder's name as a prefix
    Touch(client_ / "vazazu.dll");
    Touch(other / "vazazu.dll");
    Touch(sibling / "vazazu.dll");
    GameProcess elsewhere(other / "vazazu.exe");
    GameProcess prefixed(sibling / "vazazu.exe");
    GameProcess upperName(client_ / "VAZAZU.EXE");
    GameProcess mixedName(client_ / "VaZazu.exe");
    ASSERT_TRUE(elsewhere.Started() && prefixed.Started() && upperName.Started() &&
                mixedName.Started());

    for (const GameProcess* process : {&elsewhere, &prefixed, &upperName, &mixedName}) {
        const Found found = FindWithBoth(WinPath(client_), process->Pid());
        EXPECT_FALSE(found.bySnapshot);
        EXPECT_FALSE(found.byEnum);
    }
}

TEST_F(GameProcessTest, TerminationEndsTheFoundGames) {
    Touch(client_ / "vazazu.dll");
    GameProcess first(client_ / "vazazu.exe");
    GameProcess second(client_ / "bin" / "vazazu.exe");
    ASSERT_TRUE(first.Started() && second.Started());

    std::vector<uint32_t> pids;
    ASSERT_TRUE(FindGameProcessesBySnapshot(WinPath(client_), pids));
    ASSERT_EQ(2u, pids.size());
    EXPECT_EQ(2u, TerminateGameProcesses(pids));
    EXPECT_TRUE(FindGameProcessesByEnum(WinPath(client_), pids));
    EXPECT_TRUE(pids.empty());
}

TEST(IsPathInFolder, ComparesWithoutCaseAndSeparatorDifferences) {
    const std::wstring exe = L"C:\\Games\\Client\\vazazu.exe";
    EXPECT_TRUE(IsPathInFolder(exe, L"C:\\Games\\Client"));
    EXPECT_TRUE(IsPathInFolder(exe, L"C:\\Games\\Client\\"));
    EXPECT_TRUE(IsPathInFolder(exe, L"C:\\Games\\Client\\\\"));
    EXPECT_TRUE(IsPathInFolder(exe, L"c:/games/CLIENT"));
    EXPECT_TRUE(IsPathInFolder(L"c:/GAMES/client/bin/vazazu.exe", L"C:\\Games\\Client"));
    EXPECT_TRUE(IsPathInFolder(exe, L"C:\\"));
}

TEST(IsPathInFolder, RequiresTheWholeFolderAtTheStart) {
    EXPECT_FALSE(IsPathInFolder(L"C:\\Games\\Client2\\vazazu.exe", L"C:\\Games\\Client"));
    EXPECT_FALSE(IsPathInFolder(L"C:\\Games\\Client", L"C:\\Games\\Client"));
    EXPECT_FALSE(IsPathInFolder(L"D:\\C:\\Games\\Client\\vazazu.exe", L"C:\\Games\\Client"));
    EXPECT_FALSE(IsPathInFolder(L"", L"C:\\Games\\Client"));
    EXPECT_FALSE(IsPathInFolder(L"C:\\Games\\vazazu.exe", L"C:\\Games\\Client"));
}

}  // namespace
