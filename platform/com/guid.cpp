#include "guid.h"

#include <cstdio>

std::string GuidToString(REFGUID g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly `digits` hex digits from text at pos.
bool ReadHex(std::string_view text, size_t& pos, int digits, uint64_t& out)
{
    if (pos + digits > text.size()) return false;
    out = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[pos++]);
        if (d < 0) return false;
        out = (out << 4) | uint64_t(d);
    }
    return true;
}

bool Expect(std::string_view text, size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

std::optional<GUID> GuidFromString(std::string_view text)
{
    bool braced = !text.empty() && text.front() == '{';
    if (braced) {
        if (text.size() != 38 || text.back() != '}') return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;

    GUID g{};
    size_t pos = 0;
    uint64_t v;
    if (!ReadHex(text, pos, 8, v)) return std::nullopt;
    g.Data1 = uint32_t(v);
    if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
    g.Data2 = uint16_t(v);
    if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
    g.Data3 = uint16_t(v);
    if (!Expect(text, pos, '-')) return std::nullopt;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, pos, '-')) return std::nullopt;
        if (!ReadHex(text, pos, 2, v)) return std::nullopt;
        g.Data4[i] = uint8_t(v);
    }
    return g;
}
