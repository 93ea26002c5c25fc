// qxtest::ScopedEnv: an environment variable set or unset for one scope and put back as it was,
// so that the settings one test gives the program (QXWEB_*, HOME, PATH, TZ) never reach the next.
#pragma once

#include <string>

namespace qxtest {

class ScopedEnv {
  public:
    // Sets `name` to `value`; a null value unsets it.
    ScopedEnv(const char* name, const char* value);
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace qxtest
