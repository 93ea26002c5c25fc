// Undoing a Content-Encoding the server applied unasked: a patch list stored compressed may be
// sent as such (nginx's gzip_static always) to every client. libcurl decodes only encodings it
// asked for, and the Windows build's libcurl has no zlib, so zlib inflates the body here.
#include "net/content_encoding.h"

#include <climits>

#include <zlib.h>

#include "fsutil/text.h"

namespace {

// A patch list is a few KiB; a body that inflates beyond this is no patch list.
constexpr std::size_t kLargestDecodedBody = 64u << 20;
// inflate recognises the gzip and the zlib header itself.
constexpr int kGzipOrZlibHeader = MAX_WBITS + 32;

// The whole body inflated; false when it is damaged, cut short, followed by other bytes or too big.
bool Inflate(const std::string& encoded, std::string& decoded) {
    if (encoded.size() > UINT_MAX) {
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, kGzipOrZlibHeader) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(encoded.data()));
    stream.avail_in = static_cast<uInt>(encoded.size());
    unsigned char chunk[16384];
    int status = Z_OK;
    while (status == Z_OK && decoded.size() <= kLargestDecodedBody) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_OK || status == Z_STREAM_END) {
            decoded.append(reinterpret_cast<char*>(chunk), sizeof chunk - stream.avail_out);
        }
    }
    const bool whole =
        status == Z_STREAM_END && stream.avail_in == 0 && decoded.size() <= kLargestDecodedBody;
    inflateEnd(&stream);
    return whole;
}

}  // namespace

bool DecodeContentEncoding(CURL* handle, std::string& body) {
    curl_header* header = nullptr;
    if (curl_easy_header(handle, "Content-Encoding", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return true;  // sent as it is
    }
    const std::string encoding = ToLowerAscii(header->value);
    if (encoding.empty() || encoding == "identity" || body.empty()) {
        return true;
    }
    if (encoding != "gzip" && encoding != "x-gzip" && encoding != "deflate") {
        return false;
    }
    std::string decoded;
    if (!Inflate(body, decoded)) {
        return false;
    }
    body.swap(decoded);
    return true;
}
