#include <bit>
#include <cstddef>
#include <cstring>

#include "amf0.h"

namespace amf {

namespace {

uint8_t* WriteBigEndian(uint8_t* out, const uint8_t* end, uint64_t value, int bytes)
{
    if (!out || end - out < bytes) return nullptr;
    for (int i = bytes - 1; i >= 0; --i) *out++ = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

uint8_t* WriteName(uint8_t* out, const uint8_t* end, std::string_view name)
{
    if (!out || end - out < 2 + static_cast<std::ptrdiff_t>(name.size())) return nullptr;
    out = WriteInt16(out, end, static_cast<uint32_t>(name.size()));
    std::memcpy(out, name.data(), name.size());
    return out + name.size();
}

}  // namespace

uint8_t* WriteInt16(uint8_t* out, const uint8_t* end, uint32_t value) { return WriteBigEndian(out, end, value, 2); }
uint8_t* WriteInt24(uint8_t* out, const uint8_t* end, uint32_t value) { return WriteBigEndian(out, end, value, 3); }
uint8_t* WriteInt32(uint8_t* out, const uint8_t* end, uint32_t value) { return WriteBigEndian(out, end, value, 4); }

uint8_t* WriteBytes(uint8_t* out, const uint8_t* end, std::initializer_list<uint8_t> bytes)
{
    if (!out || end - out < static_cast<std::ptrdiff_t>(bytes.size())) return nullptr;
    for (uint8_t b : bytes) *out++ = b;
    return out;
}

uint8_t* WriteNumber(uint8_t* out, const uint8_t* end, double value)
{
    if (!out || end - out < 9) return nullptr;
    *out++ = AMF_NUMBER;
    return WriteBigEndian(out, end, std::bit_cast<uint64_t>(value), 8);
}

uint8_t* WriteBoolean(uint8_t* out, const uint8_t* end, bool value)
{
    return WriteBytes(out, end, {AMF_BOOLEAN, static_cast<uint8_t>(value ? 1 : 0)});
}

// The length is taken modulo 65536 and the whole text follows: no long-string form is written.
uint8_t* WriteString(uint8_t* out, const uint8_t* end, std::string_view text)
{
    if (!out || end - out < 3 + static_cast<std::ptrdiff_t>(text.size())) return nullptr;
    *out++ = AMF_STRING;
    out = WriteInt16(out, end, static_cast<uint32_t>(text.size() & 0xFFFF));
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

uint8_t* WriteNamedString(uint8_t* out, const uint8_t* end, std::string_view name, std::string_view text)
{
    return WriteString(WriteName(out, end, name), end, text);
}

uint8_t* WriteNamedNumber(uint8_t* out, const uint8_t* end, std::string_view name, double value)
{
    return WriteNumber(WriteName(out, end, name), end, value);
}

uint8_t* WriteNamedBoolean(uint8_t* out, const uint8_t* end, std::string_view name, bool value)
{
    return WriteBoolean(WriteName(out, end, name), end, value);
}

}  // namespace amf
