// Builds an AMF0 message body value by value, so that a command reads in wire order.
// After the first value that does not fit, every further write is skipped and Size() is -1.
#pragma once

#include <string_view>

#include "amf0.h"
#include "message_buffer.h"

class AmfBody {
public:
    explicit AmfBody(uint32_t capacity) : buffer_(capacity), out_(buffer_.Body()) {}

    AmfBody& String(std::string_view text) { return Put(amf::WriteString(out_, buffer_.BodyEnd(), text)); }
    AmfBody& Number(double value) { return Put(amf::WriteNumber(out_, buffer_.BodyEnd(), value)); }
    AmfBody& Boolean(bool value) { return Put(amf::WriteBoolean(out_, buffer_.BodyEnd(), value)); }
    AmfBody& Null() { return Put(amf::WriteNull(out_, buffer_.BodyEnd())); }
    AmfBody& ObjectStart() { return Put(amf::WriteObjectStart(out_, buffer_.BodyEnd())); }
    AmfBody& ObjectEnd() { return Put(amf::WriteObjectEnd(out_, buffer_.BodyEnd())); }
    AmfBody& NamedString(std::string_view name, std::string_view text)
    {
        return Put(amf::WriteNamedString(out_, buffer_.BodyEnd(), name, text));
    }
    AmfBody& NamedNumber(std::string_view name, double value)
    {
        return Put(amf::WriteNamedNumber(out_, buffer_.BodyEnd(), name, value));
    }
    AmfBody& NamedBoolean(std::string_view name, bool value)
    {
        return Put(amf::WriteNamedBoolean(out_, buffer_.BodyEnd(), name, value));
    }

    int64_t Size() const { return out_ ? out_ - buffer_.Body() : -1; }
    uint8_t* Body() { return buffer_.Body(); }

private:
    AmfBody& Put(uint8_t* next)
    {
        out_ = next;
        return *this;
    }
    MessageBuffer buffer_;
    uint8_t* out_;
};
