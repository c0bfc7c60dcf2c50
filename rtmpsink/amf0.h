// AMF0 values: the writers that build command and data bodies, the readers that decode
// a server's command, and the big-endian integer writers the chunk layer shares.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace amf {

enum AmfType : int32_t {
    AMF_NUMBER = 0,
    AMF_BOOLEAN = 1,
    AMF_STRING = 2,
    AMF_OBJECT = 3,
    AMF_MOVIECLIP = 4,
    AMF_NULL = 5,
    AMF_UNDEFINED = 6,
    AMF_REFERENCE = 7,
    AMF_ECMA_ARRAY = 8,
    AMF_OBJECT_END = 9,
    AMF_STRICT_ARRAY = 10,
    AMF_DATE = 11,
    AMF_LONG_STRING = 12,
    AMF_UNSUPPORTED = 13,
    AMF_RECORDSET = 14,
    AMF_XML_DOC = 15,
    AMF_TYPED_OBJECT = 16,
    AMF_AVMPLUS = 17,
    AMF_INVALID = 0xFF,
};

// Bytes inside a decoded message body; never owns them. Empty is {nullptr, 0}.
struct ByteSpan {
    const uint8_t* data = nullptr;
    uint32_t length = 0;

    std::string_view View() const { return {reinterpret_cast<const char*>(data), length}; }
    bool operator==(std::string_view text) const { return View() == text; }
};

struct AmfProperty;

struct AmfObject {
    std::vector<AmfProperty> properties;
    uint32_t Count() const;
};

struct AmfProperty {
    ByteSpan name;
    int32_t type = AMF_INVALID;
    double number = 0;
    ByteSpan text;
    AmfObject object;
    int16_t timeZone = 0;
};

inline uint32_t AmfObject::Count() const { return static_cast<uint32_t>(properties.size()); }

// ---- writers: each returns the position after the item, or nullptr when it does not fit.
uint8_t* WriteInt16(uint8_t* out, const uint8_t* end, uint32_t value);
uint8_t* WriteInt24(uint8_t* out, const uint8_t* end, uint32_t value);
uint8_t* WriteInt32(uint8_t* out, const uint8_t* end, uint32_t value);
uint8_t* WriteNumber(uint8_t* out, const uint8_t* end, double value);
uint8_t* WriteBoolean(uint8_t* out, const uint8_t* end, bool value);
uint8_t* WriteString(uint8_t* out, const uint8_t* end, std::string_view text);
uint8_t* WriteNamedString(uint8_t* out, const uint8_t* end, std::string_view name, std::string_view text);
uint8_t* WriteNamedNumber(uint8_t* out, const uint8_t* end, std::string_view name, double value);
uint8_t* WriteNamedBoolean(uint8_t* out, const uint8_t* end, std::string_view name, bool value);
// Markers the message builders place themselves: null, object start, object end.
uint8_t* WriteBytes(uint8_t* out, const uint8_t* end, std::initializer_list<uint8_t> bytes);
inline uint8_t* WriteNull(uint8_t* out, const uint8_t* end) { return WriteBytes(out, end, {AMF_NULL}); }
inline uint8_t* WriteObjectStart(uint8_t* out, const uint8_t* end) { return WriteBytes(out, end, {AMF_OBJECT}); }
inline uint8_t* WriteObjectEnd(uint8_t* out, const uint8_t* end) { return WriteBytes(out, end, {0, 0, AMF_OBJECT_END}); }

// ---- big-endian readers shared with the chunk layer.
inline uint32_t ReadInt16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t ReadInt24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t ReadInt32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | ReadInt24(p + 1); }

// ---- readers: bytes used, or -1. Texts point into the decoded buffer.
int DecodeProperty(AmfProperty& property, const uint8_t* buffer, int size, bool withName);
int DecodeList(AmfObject& object, const uint8_t* buffer, int size, bool withNames);
int DecodeCountedList(AmfObject& object, const uint8_t* buffer, int size, uint32_t count, bool withNames);

// By index when index >= 0, else by name; the shared invalid property when absent.
const AmfProperty& GetProperty(const AmfObject& object, std::string_view name, int index = -1);
const AmfProperty& InvalidProperty();

}  // namespace amf
