// The built-in public key of the patch list's signature, and the test setting that replaces it.
// Test settings are compiled into the Linux build only: in the shipped program the key that checks
// the lists can come from nowhere but the build.
#include "signature/list_key.h"

#include "platform/test_setting.h"

std::string ListPublicKeyText() {
    const char* setting = TestSetting("QXWEB_LIST_PUBLIC_KEY");
    return setting != nullptr ? setting : QXWEB_LIST_PUBLIC_KEY;
}
