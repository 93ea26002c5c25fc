// The setting of the repair tests: a temporary client folder as g_exeDir, the program's
// process-wide state at its start values, and host-side helpers on paths below the client folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "state/app_state.h"
#include "support/process_globals.h"
#include "support/temp_dir.h"

class RepairFolderTest : public ::testing::Test {
  protected:
    using Tree = std::map<std::string, std::string>;

    void SetUp() override {
        qxtest::ResetProcessGlobals();
        g_exeDir = client_.win() + L"\\";
    }

    void Write(const std::string& relative, const std::string& content) const {
        qxtest::WriteHostFile(client_.host(relative), content);
    }
    std::string Read(const std::string& relative) const {
        return qxtest::ReadHostFile(client_.host(relative));
    }
    Tree Snapshot(const std::string& relative) const {
        return qxtest::SnapshotTree(client_.host(relative));
    }
    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(client_.host(relative));
    }
    void MakeFolder(const std::string& relative) const {
        std::filesystem::create_directories(client_.host(relative));
    }

    qxtest::TempDir client_;
};
