// The attempts of one patch-archive transfer: each continues the body that the file holds when the
// server can prove it is the same (If-Range), the progress and speed carry on across attempts,
// and the budget of retries is spent only by attempts that bring the file no further.
#include "net/resumable_download.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "state/log.h"
#include "fsutil/text.h"
#include "net/http_callbacks.h"
#include "platform/test_setting.h"
#include "platform/win32.h"

namespace {

// The first attempt and five retries, counted from the last attempt that grew the file: a
// connection that keeps dropping but keeps delivering still finishes a large archive.
const int kMaxAttemptsWithoutProgress = 6;
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

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
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
    if (!StartsWithNoCase(value, "bytes ")) {
        return -1;
    }
    char* end = nullptr;
    const long long first = std::strtoll(value.c_str() + 6, &end, 10);
    return end != value.c_str() + 6 && *end == '-' && first >= 0 ? first : -1;
}

long ResponseStatus(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
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

void SetCallbacks(CURL* handle, curl_write_callback onHeader, curl_write_callback onWrite,
                  curl_xferinfo_callback onProgress, void* data) {
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, data);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, data);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, data);
}

// One transfer across its attempts.
class ResumableDownload {
  public:
    ResumableDownload(CURL* handle, const std::wstring& path, FILE* file)
        : handle_(handle), path_(path), file_(file) {}

    CURLcode Run();

  private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t totalDown, curl_off_t nowDown, curl_off_t totalUp,
                          curl_off_t nowUp);

    bool HeadersEnded();
    CURLcode Attempt();
    AttemptVerdict Judge(CURLcode result) const;
    bool StartFromZero();
    bool CanContinue() const { return held_ > 0 && !validator_.empty(); }
    void LogRetry(int attempt, CURLcode result) const;
    CURLcode Close(CURLcode result);

    CURL* handle_;
    std::wstring path_;
    FILE* file_;
    int64_t held_ = 0;            // bytes of this transfer's body in the file
    int64_t askedFrom_ = 0;       // the offset this attempt's Range asked for; 0 for none
    int64_t progressOffset_ = 0;  // body bytes before the part this answer sends
    std::string validator_;       // what an If-Range names for the body in the file
    std::string etag_, lastModified_, contentRange_;  // of the answer being received
    bool reopenFailed_ = false;  // the file was emptied and could not be opened again
    bool rangeRefused_ = false;  // a 206 for another range than the one asked for
};

size_t ResumableDownload::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* download = static_cast<ResumableDownload*>(self);
    const std::string line(data, size * count);
    if (StartsWithNoCase(line, "HTTP/")) {  // a new answer: a redirect's headers are behind us
        download->etag_.clear();
        download->lastModified_.clear();
        download->contentRange_.clear();
    } else if (StartsWithNoCase(line, "ETag:")) {
        download->etag_ = Trimmed(line.substr(5));
    } else if (StartsWithNoCase(line, "Last-Modified:")) {
        download->lastModified_ = Trimmed(line.substr(14));
    } else if (StartsWithNoCase(line, "Content-Range:")) {
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
        progressOffset_ = askedFrom_;
        return true;
    }
    if (!IsSuccessStatus(status)) {
        return true;  // a redirect, or an error page that FileWriteCallback refuses
    }
    progressOffset_ = 0;
    validator_ = ResumeValidator(etag_, lastModified_);
    return StartFromZero();
}

size_t ResumableDownload::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* download = static_cast<ResumableDownload*>(self);
    const size_t written = FileWriteCallback(data, size, count, download->file_);
    download->held_ += static_cast<int64_t>(written * size);
    return written;
}

// The dialog sees the whole body: a continued answer's counts start at the bytes already held,
// so the bar does not jump back and the speed does not count them again.
int ResumableDownload::OnProgress(void* self, curl_off_t totalDown, curl_off_t nowDown,
                                  curl_off_t totalUp, curl_off_t nowUp) {
    const auto* download = static_cast<ResumableDownload*>(self);
    if (totalDown > 0) {
        totalDown += download->progressOffset_;
        nowDown += download->progressOffset_;
    }
    return TransferInfoCallback(nullptr, totalDown, nowDown, totalUp, nowUp);
}

// Empties the file for a body that starts at zero; false when it cannot be opened again.
bool ResumableDownload::StartFromZero() {
    if (held_ == 0) {
        return true;
    }
    held_ = 0;
    fclose(file_);  // the bytes held are dropped anyway
    file_ = _wfopen(path_.c_str(), L"wb");
    reopenFailed_ = file_ == nullptr;
    return file_ != nullptr;
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

void ResumableDownload::LogRetry(int attempt, CURLcode result) const {
    std::wstring error;
    const long status = ResponseStatus(handle_);
    if (status >= 400) {
        error = L"HTTP " + std::to_wstring(status);
    } else {
        AnsiToWide(curl_easy_strerror(result), error);
    }
    LogWrite(g_log, L"download attempt %d of %ls failed (%ls); %ls bytes held", attempt,
             path_.c_str(), error.c_str(), std::to_wstring(held_).c_str());
}

CURLcode ResumableDownload::Close(CURLcode result) {
    // Closing flushes the stream's last buffer; a failure there has lost data like a failed write.
    if (file_ != nullptr && fclose(file_) != 0 && result == CURLE_OK) {
        result = CURLE_WRITE_ERROR;
    }
    file_ = nullptr;
    return result;
}

CURLcode ResumableDownload::Run() {
    SetCallbacks(handle_, OnHeader, OnWrite, OnProgress, this);

    CURLcode result = CURLE_OK;
    int64_t mostHeld = 0;
    for (int attempt = 1, withoutProgress = 1;; ++attempt, ++withoutProgress) {
        result = Attempt();
        const AttemptVerdict verdict = Judge(result);
        if (verdict == AttemptVerdict::Done || verdict == AttemptVerdict::Fail) {
            break;
        }
        if (held_ > mostHeld) {
            mostHeld = held_;
            withoutProgress = 1;
        }
        LogRetry(attempt, result);
        if (withoutProgress >= kMaxAttemptsWithoutProgress) {
            break;
        }
        if ((verdict == AttemptVerdict::RetryFromZero || !CanContinue()) && !StartFromZero()) {
            result = CURLE_WRITE_ERROR;
            break;
        }
        Sleep(RetryPauseMilliseconds(withoutProgress));
    }

    // The next operations on the handle (the probe) find the options the download stage set.
    SetCallbacks(handle_, nullptr, FileWriteCallback, TransferInfoCallback, nullptr);
    return Close(result);
}

}  // namespace

CURLcode PerformResumableDownload(CURL* handle, const std::wstring& path, FILE* file) {
    ResumableDownload download(handle, path, file);
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
    if (const char* configured = TestSetting("QXWEB_RETRY_PAUSE_MS")) {
        return static_cast<unsigned>(std::strtoul(configured, nullptr, 10));
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
