// One blocking HTTP GET (libcurl). The body is returned whatever the status code.
#pragma once

#include <functional>
#include <string>

// True when a response arrived; otherwise `error` says why.
bool HttpGet(const std::string& url, std::string& body, std::string& error);

using HttpGetFunction = std::function<bool(const std::string& url, std::string& body, std::string& error)>;
