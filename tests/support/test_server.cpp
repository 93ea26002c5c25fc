// qxtest::TestServer: starts tools/patch_server.py with port 0, learns the port from its port
// file, writes its rules file on request, and terminates and reaps it in the destructor.
#include "support/test_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace qxtest {
namespace fs = std::filesystem;

namespace {

// Writes through a temporary name and renames, so the server never reads half a rules file.
void WriteAtomically(const std::string& path, const std::string& content) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << content;
    }
    fs::rename(tmp, path);
}

std::string JsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

bool ChildExited(int pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

TestServer::TestServer() : root_(state_.host("root")) {
    fs::create_directories(root_);
    Start();
}

TestServer::TestServer(const std::string& root) : root_(root) {
    Start();
}

TestServer::~TestServer() {
    Stop();
}

void TestServer::Start() {
    WriteRules();
    Spawn();
}

void TestServer::Spawn() {
    const std::string script = std::string(QX_TOOLS_DIR) + "/patch_server.py";
    const std::string portFile = state_.host("port");
    const std::string logFile = state_.host("server.log");
    std::vector<std::string> args = {QX_PYTHON,     script,
                                     "--root",      root_,
                                     "--port",      "0",
                                     "--port-file", portFile,
                                     "--rules",     state_.host("rules.json"),
                                     "--counts",    state_.host("counts.json")};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // The server's own output goes to a log in the state folder (kept out of the test output).
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, QX_PYTHON, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << script << ": " << rc;
        return;
    }
    pid_ = pid;

    // Start-up only: the port file appears once the socket listens.
    for (int i = 0; i < 300; ++i) {
        std::string text = ReadHostFile(portFile);
        if (!text.empty() && text.back() == '\n') {
            port_ = std::atoi(text.c_str());
            return;
        }
        if (ChildExited(pid_)) {
            pid_ = 0;
            ADD_FAILURE() << "patch server exited: " << ReadHostFile(logFile);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "patch server did not report its port";
}

void TestServer::Stop() {
    if (pid_ == 0) {
        return;
    }
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (ChildExited(pid_)) {
            pid_ = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
}

std::string TestServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string TestServer::Url(const std::string& path) const {
    return "http://" + HostPort() + path;
}

void TestServer::PutFile(const std::string& relPath, const std::string& content) const {
    // A leading "/" is the server path's own: joined as is it would name the machine's root.
    const size_t start = relPath.find_first_not_of('/');
    fs::path path =
        fs::path(root_) / relPath.substr(start == std::string::npos ? relPath.size() : start);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

void TestServer::SetRule(const std::string& path, const std::string& ruleJson) {
    if (ruleJson.empty()) {
        rules_.erase(path);
    } else {
        rules_[path] = ruleJson;
    }
    WriteRules();
}

void TestServer::ClearRules() {
    rules_.clear();
    WriteRules();
}

void TestServer::WriteRules() const {
    std::string json = "{";
    for (const auto& [path, rule] : rules_) {
        if (json.size() > 1) {
            json += ", ";
        }
        json += JsonQuoted(path) + ": " + rule;
    }
    WriteAtomically(state_.host("rules.json"), json + "}");
}

int TestServer::RequestCount(const std::string& path) const {
    const std::string counts = ReadHostFile(state_.host("counts.json"));
    const std::string key = JsonQuoted(path) + ": ";
    size_t at = counts.find(key);
    return at == std::string::npos ? 0 : std::atoi(counts.c_str() + at + key.size());
}

}  // namespace qxtest
