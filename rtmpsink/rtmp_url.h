// The parts of a publishing address rtmp://host[:port]/app[/instance]/@stream-name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct RtmpUrl {
    std::string host;
    std::string app;  // with "/instance" appended when the address has one
    std::string streamName;
    std::string tcUrl;
    int32_t port = 1935;  // or the port the address names after the host
};

RtmpUrl ParseConnectionString(std::string_view text);
