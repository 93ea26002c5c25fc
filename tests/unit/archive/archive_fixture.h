// Shared setup of the archive reader's tests: a temporary folder holding the archive "in.zip"
// and the destination "out", the Windows-form paths the reader takes, the failure it reports,
// and a recorder for the progress callback.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fsutil/file_failure.h"
#include "repair/archive/zip_file.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qxtest {

using Tree = std::map<std::string, std::string>;
using ZipMethod = ZipBuilder::Method;

// Every progress call as (filesWritten, fileCount); the context is the one the callback was given.
inline std::vector<std::pair<int, int>>& ProgressCalls() {
    static std::vector<std::pair<int, int>> calls;
    return calls;
}

inline int RecordProgress(void* context, int filesWritten, int fileCount) {
    EXPECT_EQ(context, &ProgressCalls());
    ProgressCalls().emplace_back(filesWritten, fileCount);
    return 1;
}

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ProgressCalls().clear();
        recorder.callback = RecordProgress;
        recorder.context = &ProgressCalls();
    }

    std::wstring ArchivePath() const { return dir.win("in.zip"); }
    std::wstring Destination() const { return dir.win("out"); }

    void MakeDestination() const { std::filesystem::create_directories(dir.host("out")); }

    // Extracts the archive into the destination (created first), the failure into `failure`.
    bool Extract() {
        MakeDestination();
        failure = FileFailure();
        return ExtractArchive(ArchivePath(), Destination(), recorder, &failure);
    }
    // Writes the archive first.
    bool Extract(const ZipBuilder& zip) {
        zip.WriteTo(dir.host("in.zip"));
        return Extract();
    }

    // The destination's tree; contents longer than 64 bytes shown as their size, so that a
    // failing comparison stays readable.
    Tree Output() const {
        Tree tree = SnapshotTree(dir.host("out"));
        for (auto& entry : tree) {
            if (entry.second.size() > 64) {
                entry.second = std::to_string(entry.second.size()) + " bytes";
            }
        }
        return tree;
    }

    TempDir dir;
    ProgressCallback recorder;
    FileFailure failure;
};

}  // namespace qxtest
