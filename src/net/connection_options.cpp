// The options every transfer shares. Patch files are often served through a content network
// that answers with a redirect, and a host that never answers would otherwise hold the tool for
// libcurl's default connection time-out of several minutes.
#include "net/connection_options.h"

#include <cstdlib>

namespace {

const long kConnectTimeoutSeconds = 15;
const long kMaxRedirects = 5;
// Neither an address in the patch list nor a redirect may reach a local file or another protocol.
const char kWebSchemes[] = "http,https";
// Names a PEM file of certificate authorities to trust instead of the system's (tests set it
// for an authority made for the test run). Certificates are verified either way.
const char kCaFileVariable[] = "QXWEB_CA_FILE";

}  // namespace

void SetConnectionOptions(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kWebSchemes);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kWebSchemes);
    const char* caFile = std::getenv(kCaFileVariable);
    if (caFile != nullptr && *caFile != '\0') {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile);
    }
}

void SetStallLimit(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 5L);
}
