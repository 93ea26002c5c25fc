// Helpers of the UI layer's tests: a scratch folder, environment variables set for one test, and
// the transcript read back line by line.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace uitest {

// A fresh folder under /tmp, removed with its contents at the end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        char name[] = "/tmp/qx_ui_test_XXXXXX";
        path_ = ::mkdtemp(name) ? name : "";
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            std::string command = "rm -rf '" + path_ + "'";
            int ignored = std::system(command.c_str());
            (void)ignored;
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or, with a null value, unsets) a variable and puts the old value back afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        old_ = old ? old : "";
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (hadOld_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

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
    Transcript() : env_("QXWEB_TRANSCRIPT", dir_.File("transcript.jsonl").c_str()) {}
    std::vector<std::string> Lines() const { return ReadLines(dir_.File("transcript.jsonl")); }
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
    std::string Path() const { return dir_.File("transcript.jsonl"); }

  private:
    ScratchDir dir_;
    ScopedEnv env_;
};

}  // namespace uitest
