// Runs a dialog procedure as the dialog 102 under the layer's scripted mode. The test's own code
// runs on a program thread (CreateThread), so the dialog's automatic close waits for it.
#include "support/dialog_run.h"

#include <cstdlib>
#include <cstdio>

namespace qxtest {
namespace {

DLGPROC g_innerProc = nullptr;
const DialogRunOptions* g_options = nullptr;

DWORD WINAPI WhileOpenThread(LPVOID dialog) {
    g_options->whileOpen(static_cast<HWND>(dialog));
    return 0;
}

INT_PTR CALLBACK OuterProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const INT_PTR result = g_innerProc(hwnd, msg, wParam, lParam);
    if (msg == WM_INITDIALOG && g_options->whileOpen) {
        HANDLE thread = CreateThread(nullptr, 0, WhileOpenThread, hwnd, 0, nullptr);
        if (thread)
            CloseHandle(thread);
    }
    return result;
}

}  // namespace

DialogRunResult RunDialog(DLGPROC proc, const DialogRunOptions& options,
                          const std::string& transcriptPath) {
    std::remove(transcriptPath.c_str());
    setenv("QXWEB_TRANSCRIPT", transcriptPath.c_str(), 1);
    setenv("QXWEB_DIALOG", options.script.c_str(), 1);
    setenv("QXWEB_ANSWERS", options.answers.c_str(), 1);
    g_innerProc = proc;
    g_options = &options;

    DialogRunResult run;
    run.result = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, OuterProc, 0);

    g_options = nullptr;
    unsetenv("QXWEB_TRANSCRIPT");
    unsetenv("QXWEB_DIALOG");
    unsetenv("QXWEB_ANSWERS");
    run.events = ReadTranscript(transcriptPath);
    return run;
}

}  // namespace qxtest
