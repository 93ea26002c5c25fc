// One patch-archive transfer that survives a poor network: a transient failure is retried after
// a pause, and the retry continues from the bytes already in the file (Range with If-Range) or,
// when the server cannot continue that body, starts the file again from zero.
#pragma once

#include <cstdio>
#include <string>

#include <curl/curl.h>

// Runs the transfer set up on the handle (URL, progress, low-speed limits) into `file`, opened at
// `path` for appending, and closes it. Returns the result of the last attempt (a failed final
// flush is CURLE_WRITE_ERROR); that attempt's status stays readable on the handle.
CURLcode PerformResumableDownload(CURL* handle, const std::wstring& path, FILE* file);

enum class AttemptVerdict { Done, Retry, RetryFromZero, Fail };

// What follows an attempt that ended with `result` and final `status` (0 when none arrived);
// `connected` tells whether a connection was made at all.
AttemptVerdict JudgeAttempt(CURLcode result, long status, bool connected);

// The pause before the n-th retry of a row (from 1): 1, 2, 4, 8, 8... seconds, unless the
// environment variable QXWEB_RETRY_PAUSE_MS sets one pause for all (tests).
unsigned RetryPauseMilliseconds(int retry);

// The validator an If-Range may carry for a body: its ETag when strong, else its Last-Modified
// date, else "" (the body cannot be continued safely).
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);
