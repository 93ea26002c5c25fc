// The libcurl callbacks of the HTTP client: storing received bytes, refusing them before writing
// is enabled or when they are an error page, and handing the progress of a file to its listener.
#include "net/http_callbacks.h"

#include <algorithm>
#include <climits>

#include "net/http_client.h"
#include "net/transfer_listener.h"
#include "net/transfer_outcome.h"

namespace {

TransferState* StateOf(void* userData) {
    return static_cast<TransferState*>(userData);
}

size_t WriteToFileIfEnabled(char* data, size_t size, size_t count, TransferState* state) {
    if (!state->client->writeEnabled) {
        state->writeRefused = true;
        return 0;
    }
    return fwrite(data, size, count, state->file);
}

// Byte counts reach us as doubles; a count beyond the 64-bit counter saturates instead of
// overflowing (a conversion of an out-of-range double to an integer is undefined).
int64_t SaturatedInt64(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(INT64_MAX)) {  // 2^63 once converted
        return INT64_MAX;
    }
    return static_cast<int64_t>(value);
}

}  // namespace

size_t MemoryWriteCallback(char* data, size_t size, size_t count, void* userData) {
    TransferState* state = StateOf(userData);
    const size_t bytes = size * count;
    if (bytes > state->bodyLimit - std::min(state->bodyLimit, state->body->size())) {
        state->bodyTooLong = true;
        return 0;
    }
    state->body->append(data, bytes);
    return bytes;
}

size_t FileWriteCallback(char* data, size_t size, size_t count, void* userData) {
    TransferState* state = StateOf(userData);
    // An error page is not a patch archive: refuse it at its first bytes. The outcome then names
    // the status.
    if (state->client->writeEnabled &&
        !IsSuccessStatus(ResponseStatus(state->client->curlHandle))) {
        return 0;
    }
    return WriteToFileIfEnabled(data, size, count, state);
}

size_t ProbeWriteCallback(char* data, size_t size, size_t count, void* state) {
    return WriteToFileIfEnabled(data, size, count, StateOf(state));
}

int DownloadProgressCallback(void* userData, double totalDown, double nowDown, double /*totalUp*/,
                             double /*nowUp*/) {
    if (totalDown > -0.1 && totalDown < 0.1) {
        return 0;  // size not known yet
    }
    TransferState* state = StateOf(userData);
    if (state->listener != nullptr) {
        state->listener->OnProgress(SaturatedInt64(nowDown), SaturatedInt64(totalDown));
    }
    return 0;
}

int TransferInfoCallback(void* state, curl_off_t totalDown, curl_off_t nowDown, curl_off_t totalUp,
                         curl_off_t nowUp) {
    // The listener hears of the whole body: a continued answer's counts start at the bytes already
    // held, so a bar does not jump back and a speed does not count them again.
    if (totalDown > 0) {
        totalDown += StateOf(state)->progressOffset;
        nowDown += StateOf(state)->progressOffset;
    }
    return DownloadProgressCallback(state, static_cast<double>(totalDown),
                                    static_cast<double>(nowDown), static_cast<double>(totalUp),
                                    static_cast<double>(nowUp));
}
