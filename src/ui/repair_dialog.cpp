// The repair dialog IDD_REPAIR: it builds its controls at start, paints the panel, starts the
// repair worker or launches the game from its one button, and routes the five progress messages
// to their handlers.
#include "ui/repair_dialog.h"

#include <memory>

#include "client/integrity.h"
#include "patchlist/patch_list.h"
#include "platform/owners.h"
#include "repair/worker.h"
#include "signature/list_verification.h"
#include "state/app_state.h"
#include "ui/dialog_controls.h"
#include "ui/progress_state.h"
#include "ui/resource.h"
#include "ui/launch.h"
#include "ui/progress_messages.h"
#include "ui/repair_reports.h"

namespace {

HBRUSH g_bkBrush = nullptr;
HPEN g_framePen = nullptr;

const DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE;
const DWORD kLineStyle = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP;

struct ControlLayout {
    int id;
    const wchar_t* className;
    int x, y, width, height;
    DWORD style;
};

const ControlLayout kLatestVersionLabel = {
    IDC_LATEST_VERSION_LABEL, L"static", 20, 20, 200, 30, kLabelStyle};
const ControlLayout kLatestVersion = {IDC_LATEST_VERSION, L"static", 120, 20, 100, 30, kLabelStyle};
const ControlLayout kProgress = {IDC_PROGRESS, L"msctls_progress32", 40, 75, 338,
                                 30,           WS_CHILD | WS_VISIBLE};
const ControlLayout kStatus = {IDC_STATUS, L"static", 40, 110, 338, 26, kLineStyle};
const ControlLayout kDownloadCount = {IDC_DOWNLOAD_COUNT, L"static", 152, 110, 88, 26, kLineStyle};
const ControlLayout kDownloadSpeed = {IDC_DOWNLOAD_SPEED, L"static", 240, 110, 70, 26, kLineStyle};
const ControlLayout kAction = {
    IDC_ACTION, L"Button", 150, 180, 100, 30, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON};
const ControlLayout kHint = {IDC_HINT, L"static", 45, 87, 350, 40, WS_CHILD | WS_VISIBLE | SS_LEFT};

const wchar_t kRepairHint[] = L"如果游戏下载patch失败，请使用“一键修复”功能。";
const wchar_t kCurrentHint[] = L"您的客户端版本已经是最新版本。";

HWND CreateControl(const ControlLayout& layout, const wchar_t* text) {
    return CreateWindowExW(
        0, layout.className, text, layout.style, layout.x, layout.y, layout.width, layout.height,
        g_hMainDlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), nullptr, nullptr);
}

HWND Control(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

// One font for the process: the controls of the dialog keep using it until the end.
HFONT DialogFont() {
    static const HFONT font = CreateFontW(
        -14, -7, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
        CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"微软雅黑");
    return font;
}

void ApplyFont(HWND dialog, int id, HFONT font) {
    if (HWND control = Control(dialog, id)) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    }
}

void ApplyFonts() {
    const HFONT font = DialogFont();
    ApplyFont(g_hMainDlg, IDC_LATEST_VERSION, font);
    SetControlText(g_hMainDlg, IDC_LATEST_VERSION, g_latestVersionText.c_str());
    for (int id : {IDC_LATEST_VERSION_LABEL, IDC_STATUS, IDC_HINT, IDC_ACTION, IDC_DOWNLOAD_COUNT,
                   IDC_DOWNLOAD_SPEED}) {
        ApplyFont(g_hMainDlg, id, font);
    }
}

// Shows the progress panel instead of the hint and starts the worker. The thread is never
// joined: closing the dialog ends the process with it.
void StartRepair(HWND dialog) {
    ShowProgressPanel(dialog, SW_SHOW);
    ShowControl(dialog, IDC_DOWNLOAD_COUNT, SW_SHOW);
    ShowControl(dialog, IDC_DOWNLOAD_SPEED, SW_SHOW);
    ShowControl(dialog, IDC_HINT, SW_HIDE);
    EnableControl(dialog, IDC_ACTION, FALSE);

    // The worker gets everything it starts from, fixed now, and reports back to this dialog.
    auto job = std::make_unique<RepairJob>();
    job->inputs = RepairInputs{g_patchList, ReadArchiveHashes(g_patchListHeaders), g_localVersion,
                               ListSignaturesRequired()};
    job->observer = &DialogRepairObserver();
    const UniqueHandle worker(CreateThread(nullptr, 0, RepairWorker, job.get(), 0, nullptr));
    if (worker) {
        static_cast<void>(job.release());  // the worker owns it now
        return;
    }
    // No worker will ever enable the button again: offer the repair once more.
    ShowProgressPanel(dialog, SW_HIDE);
    ShowControl(dialog, IDC_HINT, SW_SHOW);
    EnableControl(dialog, IDC_ACTION, TRUE);
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) != IDC_ACTION) {
        return 0;
    }
    if (g_actionMode == ACTION_LAUNCH) {
        LaunchGame();
        EndDialog(dialog, 0);
        return TRUE;
    }
    StartRepair(dialog);
    return 0;
}

INT_PTR OnPaint(HWND dialog) {
    PAINTSTRUCT paint = {};
    HDC dc = BeginPaint(dialog, &paint);
    SelectObject(dc, g_bkBrush);
    SelectObject(dc, g_framePen);
    Rectangle(dc, 18, 60, 398, 140);
    EndPaint(dialog, &paint);
    return 0;
}

// The statics inside the panel take its grey; the two version statics above it stay transparent.
INT_PTR OnCtlColorStatic(HWND dialog, WPARAM wParam, LPARAM lParam) {
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    HWND control = reinterpret_cast<HWND>(lParam);
    for (int id : {IDC_STATUS, IDC_HINT, IDC_DOWNLOAD_COUNT, IDC_DOWNLOAD_SPEED}) {
        if (control && control == Control(dialog, id)) {
            return reinterpret_cast<INT_PTR>(g_bkBrush);
        }
    }
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

INT_PTR OnInitDialog(HWND dialog) {
    g_hMainDlg = dialog;
    g_bkBrush = CreateSolidBrush(RGB(228, 228, 228));
    g_framePen = CreatePen(PS_SOLID, 1, RGB(197, 190, 190));
    CreateRepairControls();
    return FALSE;
}

INT_PTR OnDestroy() {
    DeleteObject(g_bkBrush);
    DeleteObject(g_framePen);
    g_bkBrush = nullptr;
    g_framePen = nullptr;
    PostQuitMessage(0);
    return 0;
}

}  // namespace

void CreateRepairControls() {
    CreateControl(kLatestVersionLabel, L"最新游戏版本：");
    CreateControl(kLatestVersion, g_latestVersionText.c_str());
    CreateControl(kProgress, L"");
    CreateControl(kStatus, L"");
    CreateControl(kDownloadCount, L"");
    CreateControl(kDownloadSpeed, L"");
    CreateControl(kAction, L"启动游戏");

    ShowControl(g_hMainDlg, IDC_PROGRESS, SW_HIDE);
    ShowControl(g_hMainDlg, IDC_STATUS, SW_HIDE);
    EnableControl(g_hMainDlg, IDC_ACTION, TRUE);
    SetControlText(g_hMainDlg, IDC_ACTION, L"启动游戏");

    const wchar_t* hint = kCurrentHint;
    if (NeedsRepair(g_exeDir, g_patchList, g_localVersion)) {
        SetControlText(g_hMainDlg, IDC_ACTION, L"一键修复");
        hint = kRepairHint;
        ShowControl(g_hMainDlg, IDC_DOWNLOAD_COUNT, SW_HIDE);
        ShowControl(g_hMainDlg, IDC_DOWNLOAD_SPEED, SW_HIDE);
    } else {
        g_actionMode = ACTION_LAUNCH;
    }
    CreateControl(kHint, hint);
    ApplyFonts();
}

INT_PTR CALLBACK RepairDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            return OnInitDialog(hwnd);
        case WM_PAINT:
            return OnPaint(hwnd);
        case WM_CTLCOLORSTATIC:
            return OnCtlColorStatic(hwnd, wParam, lParam);
        case WM_COMMAND:
            return OnCommand(hwnd, wParam);
        case WM_CLOSE:
            EndDialog(hwnd, 0);
            return TRUE;
        case WM_DESTROY:
            return OnDestroy();
        case WM_DOWNLOAD_PROGRESS:
            OnDownloadProgress(hwnd, wParam, lParam);
            return 0;
        case WM_EXTRACT_PROGRESS:
            OnExtractProgress(hwnd, wParam);
            return 0;
        case WM_EXTRACT_COUNT:
            OnExtractCount(hwnd, wParam, lParam);
            return 0;
        case WM_DOWNLOAD_COUNT:
            OnDownloadCount(hwnd, wParam);
            return 0;
        case WM_DOWNLOAD_STARTED:
            OnDownloadStarted(hwnd, wParam);
            return 0;
        case WM_REPAIR_STEP:
            OnRepairStep(hwnd, wParam);
            AcknowledgeStep(lParam);
            return 0;
        case WM_REPAIR_BOX:
            ShowRequestedBox(lParam);
            return 0;
        default:
            return FALSE;
    }
}
