// The options every transfer on the client's one handle shares: which schemes it may use and
// follow redirects to, how long a connection may take to be made, and which authorities it trusts.
#pragma once

#include <curl/curl.h>

// Set once on the new handle; libcurl keeps them for every later transfer.
void SetConnectionOptions(CURL* handle);
// A transfer that receives less than 1 byte a second for 5 seconds (LowSpeedSeconds) has stalled
// and is ended.
void SetStallLimit(CURL* handle);
// How long a transfer may bring less than 1 byte/s before libcurl abandons it, in seconds.
long LowSpeedSeconds();
