// The environment of the test process, changed for one scope (POSIX setenv; the Windows test
// programs set no variables).
#include "support/scoped_env.h"

#include <cstdlib>

namespace qxtest {
namespace {

void SetOrUnset(const char* name, const char* value) {
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) {
        old_ = old;
    }
    SetOrUnset(name, value);
}

ScopedEnv::~ScopedEnv() {
    SetOrUnset(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

}  // namespace qxtest
