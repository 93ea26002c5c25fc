// The options every transfer shares. Patch files are often served through a content network
// that answers with a redirect, and a host that never answers would otherwise hold the tool for
// libcurl's default connection time-out of several minutes.
#include "net/connection_options.h"

#include "platform/test_setting.h"

namespace {

const long kConnectTimeoutMs = 15000;
const long kLowSpeedSeconds = 5;
const long kMaxRedirects = 5;
// Neither an address in the patch list nor a redirect may reach a local file or another protocol.
const char kWebSchemes[] = "http,https";

}  // namespace

long LowSpeedSeconds() {
    return TestSettingNumber("QXWEB_LOW_SPEED_TIME", kLowSpeedSeconds);
}

void SetConnectionOptions(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     TestSettingNumber("QXWEB_CONNECT_TIMEOUT_MS", kConnectTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kWebSchemes);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kWebSchemes);
    // Tests trust an authority made for the test run; certificates are verified either way.
    if (const char* caFile = TestSetting("QXWEB_CA_FILE")) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile);
    }
}

void SetStallLimit(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, LowSpeedSeconds());
}
