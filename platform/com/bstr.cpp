// BSTR storage and UTF-8 <-> UTF-16 conversion.
#include <cstdlib>
#include <cstring>

#include "variant.h"

namespace {

// Larger strings are refused rather than letting the 32-bit byte length wrap.
constexpr size_t kMaxBstrBytes = 0x7FFFFFF0;

// Allocates the prefix, `byteLength` bytes of text and a 16-bit terminator (plus one pad byte
// so an odd byte length still ends in two zero bytes).
BSTR AllocateBstr(const void* bytes, size_t byteLength)
{
    if (byteLength > kMaxBstrBytes) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + byteLength + 3));
    if (!block) return nullptr;
    uint32_t prefix = uint32_t(byteLength);
    std::memcpy(block, &prefix, sizeof prefix);
    uint8_t* text = block + sizeof prefix;
    if (bytes)
        std::memcpy(text, bytes, byteLength);
    else
        std::memset(text, 0, byteLength);
    std::memset(text + byteLength, 0, 3);
    return reinterpret_cast<BSTR>(text);
}

uint8_t* BlockOf(BSTR text) { return reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t); }

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`, advancing past it; malformed input yields U+FFFD and
// consumes one byte.
char32_t DecodeUtf8(std::string_view s, size_t& pos)
{
    auto byte = [&](size_t i) { return uint8_t(s[i]); };
    uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int extra;
    char32_t cp, min;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + extra >= s.size()) {
        ++pos;
        return kReplacement;
    }
    for (int i = 1; i <= extra; ++i) {
        uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += extra + 1;
    return cp;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text) return nullptr;
    size_t length = 0;
    while (text[length]) ++length;
    return AllocateBstr(text, length * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    return AllocateBstr(text, size_t(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) { return AllocateBstr(bytes, byteLength); }

void SysFreeString(BSTR text)
{
    if (text) std::free(BlockOf(text));
}

UINT SysStringByteLen(BSTR text)
{
    if (!text) return 0;
    uint32_t prefix;
    std::memcpy(&prefix, BlockOf(text), sizeof prefix);
    return prefix;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

std::u16string Utf16FromUtf8(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp = DecodeUtf8(utf8, pos);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 | (cp >> 10));
            out += char16_t(0xDC00 | (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[++i] - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

BSTR SysAllocStringUtf8(std::string_view utf8)
{
    std::u16string text = Utf16FromUtf8(utf8);
    return SysAllocStringLen(text.data(), UINT(text.size()));
}

std::string Utf8FromBstr(BSTR text) { return Utf8FromUtf16(std::u16string_view(text, SysStringLen(text))); }
