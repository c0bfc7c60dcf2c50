// Blocking HTTP(S) GETs with libcurl: the account request, and downloads that report their
// status and progress (the update check and the installer).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Called on the caller's thread during the transfer, at least every 20 ms and whenever data
// arrives, with the expected length (0 while unknown) and the bytes so far (a window can let its
// events run there). Returning false stops the transfer.
using DownloadProgressFunction = std::function<bool(int64_t expected, int64_t received)>;

struct HttpResult {
    bool answered = false;  // a response arrived (whatever its status)
    long status = 0;
    std::string body;
    std::string error;  // why there is no response, or why it stopped short
};

// A transfer cut short (connection lost, length not reached) is not `answered`: a partial body
// is never taken for a whole one.
HttpResult HttpDownload(const std::string& url, const DownloadProgressFunction& progress = {});

// A response arrived (whatever its status code, whose body is returned); otherwise `error` says why.
bool HttpGet(const std::string& url, std::string& body, std::string& error);

using HttpGetFunction = std::function<bool(const std::string& url, std::string& body, std::string& error)>;
