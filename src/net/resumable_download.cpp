// The attempts of one patch-archive transfer: each continues the body that the file holds when the
// server can prove it is the same (If-Range), the progress and speed carry on across attempts,
// and the budget of retries is spent by every attempt that brings the file less than 64 KiB
// further, so that a download ends in bounded time whatever the server does.
#include "net/resumable_download.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fsutil/text.h"
#include "net/http_callbacks.h"
#include "net/transfer_listener.h"
#include "net/transfer_outcome.h"
#include "platform/test_setting.h"
#include "platform/win32.h"

namespace {

// The first attempt and five retries, counted from the last attempt that brought the file on: a
// connection that keeps dropping but keeps delivering still finishes a large archive, while one
// that sends a trickle per connection (1 KiB would make a million requests of a 1 GiB archive)
// counts every attempt as failed.
const int kMaxAttemptsWithoutProgress = 6;
const int64_t kLeastProgressBytes = 64 * 1024;
const unsigned kFirstPauseMs = 1000;
const unsigned kLongestPauseMs = 8000;

bool IsTransientStatus(long status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

bool IsTransientResult(CURLcode result, bool connected) {
    switch (result) {
        case CURLE_COULDNT_CONNECT:  // refused
        case CURLE_RECV_ERROR:       // reset
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:  // body cut short
        case CURLE_GOT_NOTHING:   // empty reply
            return true;
        case CURLE_OPERATION_TIMEDOUT:
            // A stall past the low-speed limit; a host that never answered the connection is not
            // worth another quarter of a minute.
            return connected;
        default:
            return false;
    }
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The first byte position of "Content-Range: bytes X-Y/Z"; -1 when it does not read so.
int64_t ContentRangeStart(const std::string& value) {
    if (!StartsWithIgnoringAsciiCase(value, "bytes ")) {
        return -1;
    }
    char* end = nullptr;
    const long long first = std::strtoll(value.c_str() + 6, &end, 10);
    return end != value.c_str() + 6 && *end == '-' && first >= 0 ? first : -1;
}

// Whether the request went out: on a connection made for it or on one kept from before (whose
// connect time is 0).
bool WasConnected(CURL* handle) {
    curl_off_t connectTime = 0;
    curl_off_t pretransferTime = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectTime);
    curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &pretransferTime);
    return connectTime > 0 || pretransferTime > 0 || ResponseStatus(handle) != 0;
}

// One transfer across its attempts. The transfer's own state carries the file, the listener and
// the offset of a continued body to the callbacks; the headers of each answer come here.
class ResumableDownload {
  public:
    ResumableDownload(CURL* handle, const std::wstring& path, TransferState& state)
        : handle_(handle), path_(path), state_(state) {}

    CURLcode Run();

  private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);

    bool HeadersEnded();
    CURLcode Attempt();
    AttemptVerdict Judge(CURLcode result) const;
    bool StartFromZero();
    bool CanContinue() const { return held_ > 0 && !validator_.empty(); }
    void ReportRetry(int attempt, CURLcode result) const;
    CURLcode Close(CURLcode result);

    CURL* handle_;
    std::wstring path_;
    TransferState& state_;
    int64_t held_ = 0;       // bytes of this transfer's body in the file
    int64_t askedFrom_ = 0;  // the offset this attempt's Range asked for; 0 for none
    std::string validator_;  // what an If-Range names for the body in the file
    std::string etag_, lastModified_, contentRange_;  // of the answer being received
    bool reopenFailed_ = false;  // the file was emptied and could not be opened again
    bool rangeRefused_ = false;  // a 206 for another range than the one asked for
};

size_t ResumableDownload::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* download = static_cast<ResumableDownload*>(self);
    const std::string line(data, size * count);
    if (StartsWithIgnoringAsciiCase(line,
                                    "HTTP/")) {  // a new answer: a redirect's headers are behind us
        download->etag_.clear();
        download->lastModified_.clear();
        download->contentRange_.clear();
    } else if (StartsWithIgnoringAsciiCase(line, "ETag:")) {
        download->etag_ = Trimmed(line.substr(5));
    } else if (StartsWithIgnoringAsciiCase(line, "Last-Modified:")) {
        download->lastModified_ = Trimmed(line.substr(14));
    } else if (StartsWithIgnoringAsciiCase(line, "Content-Range:")) {
        download->contentRange_ = Trimmed(line.substr(14));
    } else if (Trimmed(line).empty() && !download->HeadersEnded()) {
        return 0;  // libcurl aborts the attempt
    }
    return size * count;
}

// Decides, before any byte of the body, where it goes: after the bytes held (206 for the range
// asked for) or into an emptied file (a whole body).
bool ResumableDownload::HeadersEnded() {
    const long status = ResponseStatus(handle_);
    if (status == 206) {
        if (ContentRangeStart(contentRange_) != askedFrom_) {
            rangeRefused_ = true;
            return false;
        }
        state_.progressOffset = askedFrom_;
        return true;
    }
    if (!IsSuccessStatus(status)) {
        return true;  // a redirect, or an error page that FileWriteCallback refuses
    }
    state_.progressOffset = 0;
    validator_ = ResumeValidator(etag_, lastModified_);
    return StartFromZero();
}

size_t ResumableDownload::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* download = static_cast<ResumableDownload*>(self);
    const size_t written = FileWriteCallback(data, size, count, &download->state_);
    download->held_ += static_cast<int64_t>(written * size);
    return written;
}

// Empties the file for a body that starts at zero; false when it cannot be opened again.
bool ResumableDownload::StartFromZero() {
    if (held_ == 0) {
        return true;
    }
    held_ = 0;
    fclose(state_.file);  // the bytes held are dropped anyway
    state_.file = _wfopen(path_.c_str(), L"wb");
    reopenFailed_ = state_.file == nullptr;
    return state_.file != nullptr;
}

CURLcode ResumableDownload::Attempt() {
    const std::string from = std::to_string(held_) + "-";
    const std::string ifRange = "If-Range: " + validator_;
    curl_slist* headers = nullptr;
    askedFrom_ = CanContinue() ? held_ : 0;
    if (askedFrom_ > 0) {
        headers = curl_slist_append(nullptr, ifRange.c_str());
    }
    curl_easy_setopt(handle_, CURLOPT_RANGE, askedFrom_ > 0 ? from.c_str() : nullptr);
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
    rangeRefused_ = false;
    const CURLcode result = curl_easy_perform(handle_);
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(handle_, CURLOPT_RANGE, nullptr);
    curl_slist_free_all(headers);
    return result;
}

AttemptVerdict ResumableDownload::Judge(CURLcode result) const {
    if (reopenFailed_) {
        return AttemptVerdict::Fail;
    }
    if (rangeRefused_) {
        return AttemptVerdict::RetryFromZero;
    }
    return JudgeAttempt(result, ResponseStatus(handle_), WasConnected(handle_));
}

void ResumableDownload::ReportRetry(int attempt, CURLcode result) const {
    if (state_.listener == nullptr) {
        return;
    }
    std::wstring reason;
    const long status = ResponseStatus(handle_);
    if (status >= 400) {
        reason = L"HTTP " + std::to_wstring(status);
    } else {
        AnsiToWide(curl_easy_strerror(result), reason);
    }
    state_.listener->OnAttemptFailed(attempt, reason, held_);
}

CURLcode ResumableDownload::Close(CURLcode result) {
    // Closing flushes the stream's last buffer; a failure there has lost data like a failed write.
    if (state_.file != nullptr && fclose(state_.file) != 0 && result == CURLE_OK) {
        result = CURLE_WRITE_ERROR;
    }
    state_.file = nullptr;
    return result;
}

CURLcode ResumableDownload::Run() {
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, OnWrite);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, TransferInfoCallback);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, &state_);

    CURLcode result = CURLE_OK;
    int64_t mostHeld = 0;  // the furthest the body has come: a restart from zero is no progress
    for (int attempt = 1, withoutProgress = 1;; ++attempt, ++withoutProgress) {
        result = Attempt();
        const AttemptVerdict verdict = Judge(result);
        if (verdict == AttemptVerdict::Done || verdict == AttemptVerdict::Fail) {
            break;
        }
        if (held_ - mostHeld >= kLeastProgressBytes) {
            withoutProgress = 1;
        }
        mostHeld = std::max(mostHeld, held_);
        ReportRetry(attempt, result);
        if (withoutProgress >= kMaxAttemptsWithoutProgress) {
            break;
        }
        if ((verdict == AttemptVerdict::RetryFromZero || !CanContinue()) && !StartFromZero()) {
            result = CURLE_WRITE_ERROR;
            break;
        }
        Sleep(RetryPauseMilliseconds(withoutProgress));
    }

    // No callback of the handle may outlive this transfer's state.
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, nullptr);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 1L);
    return Close(result);
}

}  // namespace

CURLcode PerformResumableDownload(CURL* handle, const std::wstring& path, TransferState& state) {
    ResumableDownload download(handle, path, state);
    return download.Run();
}

AttemptVerdict JudgeAttempt(CURLcode result, long status, bool connected) {
    if (IsSuccessStatus(status)) {
        if (result == CURLE_OK) {
            return AttemptVerdict::Done;
        }
        return IsTransientResult(result, connected) ? AttemptVerdict::Retry : AttemptVerdict::Fail;
    }
    if (status == 416) {  // the bytes held are past the end: the file changed
        return AttemptVerdict::RetryFromZero;
    }
    if (IsTransientStatus(status)) {
        return AttemptVerdict::Retry;
    }
    if (status >= 400 || result == CURLE_OK) {
        return AttemptVerdict::Fail;  // a 404 or another error answer, or a redirect nowhere
    }
    // No answer, or a redirect whose target could not be reached.
    return IsTransientResult(result, connected) ? AttemptVerdict::Retry : AttemptVerdict::Fail;
}

unsigned RetryPauseMilliseconds(int retry) {
    if (const long configured = TestSettingNumber("QXWEB_RETRY_PAUSE_MS", 0)) {
        return static_cast<unsigned>(configured);
    }
    const int doublings = std::min(std::max(retry, 1) - 1, 3);
    return std::min(kFirstPauseMs << doublings, kLongestPauseMs);
}

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    // A weak ETag ("W/...") may not be used in an If-Range.
    if (!etag.empty() && etag[0] == '"') {
        return etag;
    }
    return lastModified;
}
