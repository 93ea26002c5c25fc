// The one process-wide HTTP client over the libcurl easy interface: the patch list to memory,
// patch archives to files, and the header-only probe for the cumulative patch. It only transfers:
// every operation returns what became of it, and its caller tells the user.
#pragma once

#include <string>

#include <curl/curl.h>

#include "net/transfer_outcome.h"

class TransferListener;

class HttpClient {
  public:
    // Set by the first DownloadToFile that gets as far as its transfer: until then the file
    // callbacks refuse every byte.
    bool writeEnabled = false;
    CURL* curlHandle = nullptr;

    // The whole body, undone from a Content-Encoding the server applied, into `body`. A body
    // longer than `limit` bytes fails the transfer (CURLE_FILESIZE_EXCEEDED): whatever a server
    // sends, memory stays bounded.
    TransferOutcome FetchToMemory(const std::string& url, std::string& body, size_t limit);
    // Appends the body to the file at `path`, retrying and continuing it over a poor network; the
    // listener (when given) hears the progress and the retries.
    TransferOutcome DownloadToFile(const std::string& url, const std::wstring& path,
                                   TransferListener* listener);
    // True when the server answers a header-only request for the URL itself with status 200; the
    // header lines go into the file at `path`. Redirects are not followed: a server that sends
    // missing files to a page of its own has no such file. `outcome` (when given) says why not.
    bool ProbeRemoteFile(const std::string& url, const std::wstring& path,
                         TransferOutcome* outcome = nullptr);
};

// The client, created on the first call and never destroyed.
HttpClient* GetHttpClient();
