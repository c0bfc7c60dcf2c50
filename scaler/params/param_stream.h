// The persistence stream of a parameter container (all integers little-endian):
//   16-byte format id, 4-byte version 0, 4-byte entry count, then per entry the parameter id,
//   the value as a serialised VARIANT and a 4-byte visible flag.
#pragma once

#include <vector>

#include "interfaces/module_config.h"

namespace ModuleConfig {

constexpr GUID kParamStreamFormat = {0x4303A293, 0xA3D4, 0x4007, {0xBD, 0x8C, 0xDD, 0x0E, 0x09, 0x0E, 0x97, 0x1B}};

struct StreamEntry {
    GUID id{};
    VARIANT value{};  // owned: cleared by ~ParsedStream
    uint32_t visible = 0;
};

struct ParsedStream {
    std::vector<StreamEntry> entries;
    ParsedStream() = default;
    ParsedStream(const ParsedStream&) = delete;
    ParsedStream& operator=(const ParsedStream&) = delete;
    ~ParsedStream();
};

// Writes one VARIANT: its type, then 1, 2, 4 or 8 value bytes, or for a string a 4-byte byte
// length (0 for a null string) and the UTF-16 bytes with their terminator; other types are
// written as their string conversion.
HRESULT WriteVariant(IStream* stream, const VARIANT& value);
// Upper bound of WriteVariant's size for a value.
uint32_t VariantSizeMax(const VARIANT& value);

HRESULT WriteStreamHeader(IStream* stream, uint32_t count);
HRESULT WriteStreamEntry(IStream* stream, const GUID& id, const VARIANT& value, bool visible);

// Reads and checks a whole stream. E_FAIL for another format id or version, a truncated stream,
// an unknown value type or a malformed string; nothing is allocated beyond what the stream holds.
HRESULT ReadParamStream(IStream* stream, ParsedStream& out);

}  // namespace ModuleConfig
