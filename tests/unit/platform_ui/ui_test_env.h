// Helpers of the UI layer's tests: the transcript of one test, read back line by line.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace uitest {

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A transcript for one test: QXWEB_TRANSCRIPT points into a scratch folder.
class Transcript {
  public:
    Transcript() : env_("QXWEB_TRANSCRIPT", Path()) {}
    std::vector<std::string> Lines() const { return ReadLines(Path()); }
    // Only the lines whose text contains `needle` (e.g. "\"event\":\"box\"").
    std::vector<std::string> LinesWith(const std::string& needle) const {
        std::vector<std::string> picked;
        for (const std::string& line : Lines()) {
            if (line.find(needle) != std::string::npos) {
                picked.push_back(line);
            }
        }
        return picked;
    }
    std::string Path() const { return dir_.host("transcript.jsonl"); }

  private:
    qxtest::TempDir dir_;
    qxtest::ScopedEnv env_;
};

}  // namespace uitest
