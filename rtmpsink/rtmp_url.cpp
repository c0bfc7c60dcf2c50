#include "rtmp_url.h"

namespace {

// Positions as signed offsets: a failed search is -1, and a search start beyond the text finds nothing.
int64_t Find(std::string_view text, std::string_view what, int64_t from)
{
    if (from < 0 || from > static_cast<int64_t>(text.size())) return -1;
    size_t at = text.find(what, static_cast<size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<int64_t>(at);
}

// The text between two positions; positions outside the text are clamped, a reversed range is empty.
std::string Between(std::string_view text, int64_t from, int64_t to)
{
    int64_t size = static_cast<int64_t>(text.size());
    if (from < 0) from = 0;
    if (to < 0 || to > size) to = size;
    if (from >= to) return {};
    return std::string(text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

// "host:port" with a port of 1 to 65535 splits; any other text stays the host, on 1935.
void SplitPort(RtmpUrl& url)
{
    size_t colon = url.host.rfind(':');
    if (colon == std::string::npos || colon + 1 == url.host.size() || url.host.size() - colon > 6) return;
    int32_t port = 0;
    for (size_t i = colon + 1; i < url.host.size(); ++i) {
        char c = url.host[i];
        if (c < '0' || c > '9') return;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return;
    url.port = port;
    url.host.resize(colon);
}

}  // namespace

RtmpUrl ParseConnectionString(std::string_view text)
{
    RtmpUrl url;
    int64_t p1 = Find(text, "//", 0);
    int64_t p2 = Find(text, "/", p1 + 3);
    url.host = Between(text, p1 + 2, p2);
    int64_t p3 = p2 < 0 ? -1 : Find(text, "/", p2 + 1);
    url.app = p2 < 0 ? std::string() : Between(text, p2 + 1, p3);
    int64_t p4 = p3 < 0 ? -1 : Find(text, "@", p3 + 2);
    std::string instance = p4 < 0 ? std::string() : Between(text, p3 + 1, p4 - 1);
    if (!instance.empty()) url.app += "/" + instance;
    size_t at = text.find('@');
    url.streamName = std::string(at == std::string_view::npos ? text : text.substr(at + 1));
    url.tcUrl = "rtmp://" + url.host + "/" + url.app;
    SplitPort(url);
    return url;
}
