// The setting of the dialog tests: a temporary client folder as g_exeDir, the shared progress
// state back at its start values, and the dialog run through the layer with its transcript.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "patchlist/patch_list.h"
#include "state/app_state.h"
#include "ui/progress_state.h"
#include "ui/resource.h"
#include "support/dialog_run.h"
#include "support/process_globals.h"
#include "support/temp_dir.h"
#include "ui/repair_dialog.h"

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qxtest::ResetProcessGlobals();
        g_exeDir = client_.win() + L"\\";
        g_actionMode = ACTION_REPAIR;
    }

    // A patch list whose newest entry is `newest`, and a client whose local version is `local`.
    void SetVersions(const std::wstring& newest, const std::string& local) {
        PatchEntry entry;
        entry.version = newest;
        entry.url = L"http://127.0.0.1:1/" + newest + L".zip";
        g_patchList.push_back(entry);
        g_latestVersionText = newest;
        qxtest::WriteHostFile(client_.host() + "/findownload.dat", local);
    }

    qxtest::DialogRunResult Run(const qxtest::DialogRunOptions& options) {
        return qxtest::RunDialog(RepairDlgProc, options, scratch_.host() + "/transcript.jsonl");
    }

    qxtest::TempDir client_;
    qxtest::TempDir scratch_;
};
