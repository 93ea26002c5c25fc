// Test-only settings: environment variables through which tests steer the program (a server on
// any port, shorter waits, a certificate authority of their own). Builds without
// QXWEB_TEST_SETTINGS, the shipped Windows program among them, read none and hold none of the
// names.
#pragma once

#include <cstdlib>

// The value of the test-only setting `name` (a "QXWEB_..." variable), or null when it is unset,
// empty, or this build reads no test-only settings.
#ifdef QXWEB_TEST_SETTINGS
inline const char* TestSetting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}
#else
inline const char* TestSetting(const char*) {
    return nullptr;
}
#endif

// The test-only setting `name` when it holds a positive number, else `fallback`.
inline long TestSettingNumber(const char* name, long fallback) {
    const char* value = TestSetting(name);
    const long number = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
    return number > 0 ? number : fallback;
}
