// The built-in public key of the patch list's signature, and the test setting that replaces it.
// The setting is compiled into the Linux build only: in the shipped program the key that checks
// the lists can come from nowhere but the build.
#include "signature/list_key.h"

#include <cstdlib>

namespace {

// One place that reads the setting, to be switched over to the suite's TestSetting().
const char* KeySetting() {
#if QXWEB_LIST_KEY_SETTING
    return std::getenv("QXWEB_LIST_PUBLIC_KEY");
#else
    return nullptr;
#endif
}

}  // namespace

std::string ListPublicKeyText() {
    const char* setting = KeySetting();
    return setting != nullptr ? setting : QXWEB_LIST_PUBLIC_KEY;
}
