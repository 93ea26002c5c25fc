// Undoing the Content-Encoding of a response body held in memory, for servers that compress what
// they send whether the client asked for it or not.
#pragma once

#include <string>

#include <curl/curl.h>

// Replaces body by its decoded form when the last response on the handle declared gzip or deflate;
// false when the declared encoding is unknown or the body does not decode.
bool DecodeContentEncoding(CURL* handle, std::string& body);
