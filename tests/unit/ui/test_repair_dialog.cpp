// The repair dialog as the user meets it: the controls it opens with in each state, the button in
// launch mode and in repair mode, Esc and the title bar's close.
#include <sys/stat.h>

#include "dialog_fixture.h"
#include "fsutil/text.h"

namespace {

using qxtest::Box;
using qxtest::TranscriptEvent;

struct Created {
    std::string id, className, text, visible, enabled;
    bool operator==(const Created& o) const {
        return id == o.id && className == o.className && text == o.text && visible == o.visible &&
               enabled == o.enabled;
    }
};

std::ostream& operator<<(std::ostream& out, const Created& c) {
    return out << "{" << c.id << " " << c.className << " '" << c.text << "' visible=" << c.visible
               << " enabled=" << c.enabled << "}";
}

std::vector<Created> CreatedControls(const std::vector<TranscriptEvent>& events) {
    std::vector<Created> created;
    for (const TranscriptEvent& e : events) {
        if (e.Get("event") == "create")
            created.push_back(
                {e.Get("id"), e.Get("class"), e.Get("text"), e.Get("visible"), e.Get("enabled")});
    }
    return created;
}

std::vector<std::string> DialogActions(const std::vector<TranscriptEvent>& events) {
    std::vector<std::string> actions;
    for (const TranscriptEvent& e : events) {
        if (e.Get("event") == "dialog")
            actions.push_back(e.Get("action") + ":" + e.Get("caption"));
    }
    return actions;
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    return WideToAnsi(text, out);  // the system code page is UTF-8 on Linux
}

const char kCaption[] = "《Zorvan》手游客户端修复工具";
const char kRepairHint[] = "如果游戏下载patch失败，请使用“一键修复”功能。";
const char kCurrentHint[] = "您的客户端版本已经是最新版本。";

// Visible and enabled state, with the text, of the panel's controls and the button at the end.
struct Panel {
    bool progress, status, count, speed, hint, actionEnabled;
    std::string actionText, hintText;
};

Panel FinalPanel(const std::vector<TranscriptEvent>& events) {
    using qxtest::FinalControlState;
    return {FinalControlState(events, IDC_PROGRESS).visible,
            FinalControlState(events, IDC_STATUS).visible,
            FinalControlState(events, IDC_DOWNLOAD_COUNT).visible,
            FinalControlState(events, IDC_DOWNLOAD_SPEED).visible,
            FinalControlState(events, IDC_HINT).visible,
            FinalControlState(events, IDC_ACTION).enabled,
            FinalControlState(events, IDC_ACTION).text,
            FinalControlState(events, IDC_HINT).text};
}

void ExpectPanel(const Panel& actual, const Panel& expected) {
    EXPECT_EQ(actual.progress, expected.progress);
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_EQ(actual.count, expected.count);
    EXPECT_EQ(actual.speed, expected.speed);
    EXPECT_EQ(actual.hint, expected.hint);
    EXPECT_EQ(actual.actionEnabled, expected.actionEnabled);
    EXPECT_EQ(actual.actionText, expected.actionText);
    EXPECT_EQ(actual.hintText, expected.hintText);
}

TEST_F(DialogTest, OpensOfferingTheRepairWhenTheClientIsOlder) {
    SetVersions(L"1.0.5", "1.0.3");

    const qxtest::DialogRunResult run = Run({});

    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(DialogActions(run.events),
              (std::vector<std::string>{std::string("open:") + kCaption,
                                        std::string("close:") + kCaption}));
    const std::vector<Created> expected = {
        {"1004", "static", "最新游戏版本：", "true", "true"},
        {"1002", "static", "1.0.5", "true", "true"},
        {"1001", "msctls_progress32", "", "true", "true"},
        {"1003", "static", "", "true", "true"},
        {"1007", "static", "", "true", "true"},
        {"1008", "static", "", "true", "true"},
        {"1006", "Button", "启动游戏", "true", "true"},
        {"1005", "static", kRepairHint, "true", "true"},
    };
    EXPECT_EQ(CreatedControls(run.events), expected);
    ExpectPanel(FinalPanel(run.events),
                {false, false, false, false, true, true, "一键修复", kRepairHint});
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_LATEST_VERSION).text, "1.0.5");
    EXPECT_EQ(g_actionMode, ACTION_REPAIR);
    EXPECT_EQ(g_localVersion, L"1.0.3");
}

TEST_F(DialogTest, OpensReadyToLaunchWhenTheClientIsCurrent) {
    SetVersions(L"1.0.5", "1.0.5");

    const qxtest::DialogRunResult run = Run({});

    // The empty count and speed statics stay visible; the progress panel is hidden.
    ExpectPanel(FinalPanel(run.events),
                {false, false, true, true, true, true, "启动游戏", kCurrentHint});
    EXPECT_EQ(g_actionMode, ACTION_LAUNCH);
    EXPECT_TRUE(qxtest::BoxesOf(run.events).empty());
}

TEST_F(DialogTest, LaunchStartsTheGameFromTheClientFolderAndCloses) {
    SetVersions(L"1.0.5", "1.0.5");
    const std::string game = client_.host() + "/vazazu.exe";
    qxtest::WriteHostFile(game, "#!/bin/sh\nexit 0\n");
    chmod(game.c_str(), 0755);

    const qxtest::DialogRunResult run = Run({"press", "", nullptr});

    EXPECT_EQ(run.result, 0);
    std::vector<std::string> execs;
    for (const TranscriptEvent& e : run.events) {
        if (e.Get("event") == "exec")
            execs.push_back(e.Get("file") + "|" + e.Get("params") + "|" + e.Get("dir") + "|" +
                            e.Get("ok"));
    }
    const std::string dir = Utf8(g_exeDir);
    EXPECT_EQ(execs, (std::vector<std::string>{dir + "vazazu.exe||" + dir + "|true"}));
    EXPECT_TRUE(qxtest::BoxesOf(run.events).empty());
    EXPECT_EQ(DialogActions(run.events).size(), 2u);
}

TEST_F(DialogTest, AFailedLaunchShowsOneBoxAndStillCloses) {
    SetVersions(L"1.0.5", "1.0.5");  // no vazazu.exe in the client folder

    const qxtest::DialogRunResult run = Run({"press", "", nullptr});

    EXPECT_EQ(run.result, 0);
    const std::vector<Box> boxes = qxtest::BoxesOf(run.events);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "无法启动游戏程序");
    EXPECT_NE(boxes[0].caption, "提示");  // no caption of its own: the system's default
    EXPECT_EQ(DialogActions(run.events).back(), std::string("close:") + kCaption);
}

TEST_F(DialogTest, EscAndOtherCommandsDoNothingTheTitleBarCloseEndsTheDialog) {
    SetVersions(L"1.0.5", "1.0.5");
    bool openAfterCommands = false;
    auto whileOpen = [&](HWND dialog) {
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        SendMessageW(dialog, WM_COMMAND, IDC_HINT, 0);
        openAfterCommands = GetDlgItem(dialog, IDC_ACTION) != nullptr;
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    };

    const qxtest::DialogRunResult run = Run({"", "", whileOpen});

    EXPECT_TRUE(openAfterCommands);
    EXPECT_EQ(run.result, 0);
    for (const TranscriptEvent& e : run.events)
        EXPECT_NE(e.Get("event"), "exec");
    EXPECT_EQ(g_actionMode, ACTION_LAUNCH);
}

TEST_F(DialogTest, RepairShowsTheProgressPanelAndAFailedDownloadKeepsTheButtonDisabled) {
    // An empty patch list: the client needs a repair, and the download stage has nothing to
    // fetch, so the worker ends with its download box without touching the network.
    const qxtest::DialogRunResult run = Run({"press", "", nullptr});

    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(qxtest::BoxesOf(run.events), (std::vector<Box>{{"提示", "下载patch失败"}}));
    ExpectPanel(FinalPanel(run.events),
                {true, true, true, true, false, false, "一键修复", kRepairHint});
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_STATUS).text, "正在下载补丁文件");
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_LATEST_VERSION).text, "未知");
    EXPECT_EQ(g_actionMode, ACTION_REPAIR);
    EXPECT_EQ(g_downloadTotal, 1);
}

}  // namespace
