#include <bit>

#include "amf0.h"

namespace amf {

namespace {

// Objects nest at most this deep; a server cannot exhaust the stack with nested markers.
constexpr int kMaxNesting = 64;

int DecodePropertyAt(AmfProperty& property, const uint8_t* buffer, int size, bool withName, int depth);

// Decodes the value at `used`, appends it and moves `used` past it; false when it fails.
bool AppendProperty(AmfObject& object, const uint8_t* buffer, int size, int& used, bool withName, int depth)
{
    AmfProperty property;
    int n = DecodePropertyAt(property, buffer + used, size - used, withName, depth);
    if (n < 0) return false;
    object.properties.push_back(std::move(property));
    used += n;
    return true;
}

int DecodeListAt(AmfObject& object, const uint8_t* buffer, int size, bool withNames, int depth)
{
    if (size <= 0) return 0;
    int used = 0;
    while (used < size) {
        if (size - used >= 3 && buffer[used] == 0 && buffer[used + 1] == 0 && buffer[used + 2] == AMF_OBJECT_END)
            return used + 3;
        // After a failure the list only searches for its end marker, and fails anyway.
        if (!AppendProperty(object, buffer, size, used, withNames, depth)) return -1;
    }
    return used;
}

int DecodeCountedListAt(AmfObject& object, const uint8_t* buffer, int size, uint32_t count, bool withNames,
                        int depth)
{
    int used = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // A failed round leaves the position where it was, so every later round fails too.
        if (!AppendProperty(object, buffer, size, used, withNames, depth)) return -1;
    }
    return used;
}

int DecodePropertyAt(AmfProperty& property, const uint8_t* buffer, int size, bool withName, int depth)
{
    if (!buffer || size <= 0) return -1;
    const uint8_t* p = buffer;
    int left = size;
    if (withName) {
        if (size < 4) return -1;
        uint32_t nameLength = ReadInt16(p);
        if (nameLength > static_cast<uint32_t>(size - 2)) return -1;
        property.name = nameLength ? ByteSpan{p + 2, nameLength} : ByteSpan{};
        p += 2 + nameLength;
        left -= 2 + nameLength;
        if (left == 0) return -1;
    }
    property.type = *p++;
    --left;
    int payload = 0;
    switch (property.type) {
    case AMF_NUMBER:
        if (left < 8) return -1;
        property.number = std::bit_cast<double>((uint64_t(ReadInt32(p)) << 32) | ReadInt32(p + 4));
        payload = 8;
        break;
    case AMF_BOOLEAN:
        if (left < 1) return -1;
        property.number = p[0] ? 1.0 : 0.0;
        payload = 1;
        break;
    case AMF_STRING: {
        if (left < 2) return -1;
        uint32_t length = ReadInt16(p);
        if (static_cast<int64_t>(length) + 2 > left) return -1;
        property.text = length ? ByteSpan{p + 2, length} : ByteSpan{};
        payload = 2 + length;
        break;
    }
    case AMF_OBJECT:
        if (depth >= kMaxNesting) return -1;
        payload = DecodeListAt(property.object, p, left, true, depth + 1);
        if (payload < 0) return -1;
        break;
    case AMF_NULL:
    case AMF_UNDEFINED:
    case AMF_UNSUPPORTED:
        property.type = AMF_NULL;
        break;
    case AMF_ECMA_ARRAY:
        // The count field is skipped: the members run to the object end.
        if (left < 4 || depth >= kMaxNesting) return -1;
        property.type = AMF_OBJECT;
        payload = DecodeListAt(property.object, p + 4, left - 4, true, depth + 1);
        if (payload < 0) return -1;
        payload += 4;
        break;
    case AMF_STRICT_ARRAY: {
        if (left < 4 || depth >= kMaxNesting) return -1;
        property.type = AMF_OBJECT;
        payload = DecodeCountedListAt(property.object, p + 4, left - 4, ReadInt32(p), false, depth + 1);
        if (payload < 0) return -1;
        payload += 4;
        break;
    }
    case AMF_DATE:
        if (left < 10) return -1;
        property.number = std::bit_cast<double>((uint64_t(ReadInt32(p)) << 32) | ReadInt32(p + 4));
        property.timeZone = static_cast<int16_t>(ReadInt16(p + 8));
        payload = 10;
        break;
    case AMF_LONG_STRING: {
        if (left < 4) return -1;
        uint32_t length = ReadInt32(p);
        if (static_cast<int64_t>(length) + 4 > left) return -1;
        property.type = AMF_STRING;
        property.text = length ? ByteSpan{p + 4, length} : ByteSpan{};
        payload = 4 + static_cast<int>(length);
        break;
    }
    case AMF_MOVIECLIP:
    case AMF_REFERENCE:
    case AMF_OBJECT_END:
    case AMF_RECORDSET:
    case AMF_XML_DOC:
    case AMF_TYPED_OBJECT:
        return -1;
    default:
        // Markers from 17 on carry no payload that this reader knows.
        break;
    }
    return static_cast<int>(p - buffer) + payload;
}

}  // namespace

int DecodeProperty(AmfProperty& property, const uint8_t* buffer, int size, bool withName)
{
    return DecodePropertyAt(property, buffer, size, withName, 0);
}

int DecodeList(AmfObject& object, const uint8_t* buffer, int size, bool withNames)
{
    return DecodeListAt(object, buffer, size, withNames, 0);
}

int DecodeCountedList(AmfObject& object, const uint8_t* buffer, int size, uint32_t count, bool withNames)
{
    return DecodeCountedListAt(object, buffer, size, count, withNames, 0);
}

const AmfProperty& InvalidProperty()
{
    static const AmfProperty invalid;
    return invalid;
}

const AmfProperty& GetProperty(const AmfObject& object, std::string_view name, int index)
{
    if (index >= 0) return index < static_cast<int>(object.Count()) ? object.properties[index] : InvalidProperty();
    for (const AmfProperty& property : object.properties)
        if (property.name == name) return property;
    return InvalidProperty();
}

}  // namespace amf
