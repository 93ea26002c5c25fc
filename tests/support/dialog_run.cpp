// Runs a dialog procedure as the dialog 102 under the layer's scripted mode. The test's own code
// runs on a program thread (CreateThread), so the dialog's automatic close waits for it.
#include "support/dialog_run.h"

#include <cstdio>

#include "support/scoped_env.h"

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
        if (thread) {
            CloseHandle(thread);
        }
    }
    return result;
}

}  // namespace

DialogRunResult RunDialog(DLGPROC proc, const DialogRunOptions& options,
                          const std::string& transcriptPath) {
    std::remove(transcriptPath.c_str());
    DialogRunResult run;
    {
        const ScopedEnv transcript("QXWEB_TRANSCRIPT", transcriptPath);
        const ScopedEnv script("QXWEB_DIALOG", options.script);
        const ScopedEnv answers("QXWEB_ANSWERS", options.answers);
        g_innerProc = proc;
        g_options = &options;
        run.result = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, OuterProc, 0);
        g_options = nullptr;
    }
    run.events = ReadTranscript(transcriptPath);
    return run;
}

}  // namespace qxtest
