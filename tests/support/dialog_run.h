// Running the repair dialog in a unit test: the layer's real modal loop in scripted mode, with an
// optional piece of test code on a program thread while it is open, and the transcript read back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/transcript_reader.h"

namespace qxtest {

struct DialogRunOptions {
    // QXWEB_DIALOG for this run: "press", "close" or "" (no action).
    std::string script;
    // QXWEB_ANSWERS for the boxes of this run.
    std::string answers;
    // Runs on a thread started with CreateThread once the dialog is initialised; the dialog, whose
    // script is then used up, closes itself after this code and every worker have ended.
    std::function<void(HWND dialog)> whileOpen;
};

struct DialogRunResult {
    INT_PTR result = -1;
    std::vector<TranscriptEvent> events;
};

// Opens template 102 with `proc` and returns what the user saw. `transcriptPath` is a host path.
DialogRunResult RunDialog(DLGPROC proc, const DialogRunOptions& options,
                          const std::string& transcriptPath);

}  // namespace qxtest
