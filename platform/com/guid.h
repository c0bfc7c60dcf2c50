// GUID with the Windows layout, its braced text form and hashing.
#pragma once

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "wintypes.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool operator<(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as StringFromGUID2 writes it.
std::string GuidToString(REFGUID guid);
// Accepts the braced form (case-insensitive); braces may be omitted. Empty on any malformed text.
std::optional<GUID> GuidFromString(std::string_view text);

// A GUID whose first member is a FOURCC, as DirectShow builds its subtypes.
constexpr GUID GuidFromFourCC(uint32_t fourcc)
{
    return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t MakeFourCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID& g) const noexcept
    {
        uint64_t lo, hi;
        std::memcpy(&lo, &g, 8);
        std::memcpy(&hi, reinterpret_cast<const char*>(&g) + 8, 8);
        return std::hash<uint64_t>{}(lo * 0x9E3779B97F4A7C15ull ^ hi);
    }
};
