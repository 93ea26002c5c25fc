// The one process-wide HTTP client over the libcurl easy interface: the patch list to memory,
// patch archives to files, and the header-only probe for the cumulative patch.
#pragma once

#include <cstdint>
#include <string>

#include <curl/curl.h>

class HttpClient {
  public:
    bool writeEnabled = false;
    CURL* curlHandle = nullptr;
    bool cumulativePatchPresent = false;

    bool FetchToMemory(const std::string& url, std::wstring& out);
    bool DownloadToFile(const std::string& url, const std::wstring& fileName);
    bool ProbeRemoteFile(const std::string& url, const std::wstring& fileName);
};

HttpClient* GetHttpClient();

void ShowNetworkError(const std::wstring& prefix, CURLcode code);
// The network error box of a patch download, with a description of the program's own.
void ShowDownloadError(const std::wstring& description);

extern std::string g_responseBuffer;
