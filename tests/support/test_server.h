// qxtest::TestServer: runs tools/patch_server.py on a free port of 127.0.0.1 for one test and
// stops it when the test ends, so that tests exercise the HTTP code against a real server.
#pragma once

#include <map>
#include <string>

#include "support/temp_dir.h"

namespace qxtest {

class TestServer {
  public:
    // Serves `root`; with no root, an empty folder of its own (see Root()). The system picks a
    // free port, so servers of tests running in parallel never meet.
    TestServer();
    explicit TestServer(const std::string& root);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool Running() const { return port_ != 0; }
    int Port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string HostPort() const;
    // "http://127.0.0.1:<port>" + path (path starts with "/").
    std::string Url(const std::string& path) const;
    const std::string& Root() const { return root_; }

    // Writes a file under the root (folders are created as needed).
    void PutFile(const std::string& relPath, const std::string& content) const;

    // Misbehaviour for one URL path, as a JSON object text, e.g. R"({"status": 404})".
    // Takes effect with the next request; an empty text removes the rule.
    void SetRule(const std::string& path, const std::string& ruleJson);
    void ClearRules();

    // How many requests (any method) the server has seen for a URL path.
    int RequestCount(const std::string& path) const;

  private:
    void Start();
    void Spawn();
    void Stop();
    void WriteRules() const;

    TempDir state_;  // port file, rules, request counts and the server's log
    std::string root_;
    std::map<std::string, std::string> rules_;
    int pid_ = 0;
    int port_ = 0;
};

}  // namespace qxtest
