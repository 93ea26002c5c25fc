// One patch-archive transfer that survives a poor network: a transient failure is retried after
// a pause, and the retry continues from the bytes already in the file (Range with If-Range) or,
// when the server cannot continue that body, starts the file again from zero.
#pragma once

#include <string>

#include <curl/curl.h>

struct TransferState;

// Runs the transfer set up on the handle (URL, low-speed limits) into the state's file, opened at
// `path` for appending, and closes it. The state's listener hears the progress and every retry.
// Returns the result of the last attempt (a failed final flush is CURLE_WRITE_ERROR); that
// attempt's status stays readable on the handle.
CURLcode PerformResumableDownload(CURL* handle, const std::wstring& path, TransferState& state);

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
