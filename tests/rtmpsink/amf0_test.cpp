#include <gtest/gtest.h>

#include <vector>

#include "amf0.h"

using namespace amf;

namespace {

using Bytes = std::vector<uint8_t>;

template <class Write>
Bytes Written(size_t room, Write write)
{
    Bytes buffer(room, 0xEE);
    uint8_t* end = write(buffer.data(), buffer.data() + room);
    if (!end) return {};
    buffer.resize(end - buffer.data());
    return buffer;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(Amf0Write, ValuesHaveTheirWireForm)
{
    EXPECT_EQ(Written(16, [](uint8_t* p, uint8_t* e) { return WriteString(p, e, "connect"); }),
              Concat({{0x02, 0x00, 0x07}, Text("connect")}));
    EXPECT_EQ(Written(16, [](uint8_t* p, uint8_t* e) { return WriteNumber(p, e, 1.0); }),
              (Bytes{0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Written(16, [](uint8_t* p, uint8_t* e) { return WriteNamedBoolean(p, e, "stereo", true); }),
              Concat({{0x00, 0x06}, Text("stereo"), {0x01, 0x01}}));
    EXPECT_EQ(Written(16, [](uint8_t* p, uint8_t* e) { return WriteInt24(p, e, 0x123456); }),
              (Bytes{0x12, 0x34, 0x56}));
}

TEST(Amf0Write, NoRoomWritesNothing)
{
    Bytes buffer(8, 0xEE);
    EXPECT_EQ(WriteNumber(buffer.data(), buffer.data() + 8, 1.0), nullptr);
    EXPECT_EQ(buffer, Bytes(8, 0xEE));
    EXPECT_EQ(WriteString(buffer.data(), buffer.data() + 8, "connect"), nullptr);
    // A failed write earlier in a chain makes every later one fail too.
    EXPECT_EQ(WriteNull(nullptr, buffer.data() + 8), nullptr);
}

TEST(Amf0Read, CommandBodyDecodesWithoutNames)
{
    Bytes body = Concat({{0x02, 0x00, 0x07}, Text("_result"), {0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, {0x05},
                         {0x03, 0x00, 0x04}, Text("code"), {0x02, 0x00, 0x02}, Text("ok"), {0x00, 0x00, 0x09}});
    AmfObject values;
    ASSERT_EQ(DecodeList(values, body.data(), static_cast<int>(body.size()), false), static_cast<int>(body.size()));
    ASSERT_EQ(values.Count(), 4u);
    EXPECT_EQ(GetProperty(values, {}, 0).text.View(), "_result");
    EXPECT_EQ(GetProperty(values, {}, 1).number, 1.0);
    EXPECT_EQ(GetProperty(values, {}, 2).type, AMF_NULL);
    const AmfProperty& info = GetProperty(values, {}, 3);
    EXPECT_EQ(info.type, AMF_OBJECT);
    EXPECT_EQ(GetProperty(info.object, "code").text.View(), "ok");
    // Absent names and indexes give the shared invalid property.
    const AmfProperty& missing = GetProperty(info.object, "level");
    EXPECT_EQ(&missing, &InvalidProperty());
    EXPECT_EQ(missing.type, AMF_INVALID);
    EXPECT_EQ(missing.text.length, 0u);
    EXPECT_EQ(missing.number, 0.0);
    EXPECT_EQ(&GetProperty(values, {}, 4), &InvalidProperty());
}

TEST(Amf0Read, ArraysBooleansDatesAndLongStrings)
{
    Bytes ecma = Concat({{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, Text("a"), {0x01, 0x07}, {0x00, 0x00, 0x09}});
    AmfProperty property;
    ASSERT_EQ(DecodeProperty(property, ecma.data(), static_cast<int>(ecma.size()), false), static_cast<int>(ecma.size()));
    EXPECT_EQ(property.type, AMF_OBJECT);
    EXPECT_EQ(GetProperty(property.object, "a").number, 1.0);

    Bytes strict = {0x0A, 0, 0, 0, 2, 0x01, 0x00, 0x05};
    AmfProperty list;
    ASSERT_EQ(DecodeProperty(list, strict.data(), static_cast<int>(strict.size()), false), 8);
    ASSERT_EQ(list.object.Count(), 2u);
    EXPECT_EQ(list.object.properties[0].number, 0.0);
    EXPECT_EQ(list.object.properties[1].type, AMF_NULL);

    Bytes date = {0x0B, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE};
    AmfProperty when;
    ASSERT_EQ(DecodeProperty(when, date.data(), static_cast<int>(date.size()), false), 11);
    EXPECT_EQ(when.number, 1.0);
    EXPECT_EQ(when.timeZone, -2);

    Bytes longText = Concat({{0x0C, 0, 0, 0, 3}, Text("abc")});
    AmfProperty text;
    ASSERT_EQ(DecodeProperty(text, longText.data(), static_cast<int>(longText.size()), false), 8);
    EXPECT_EQ(text.type, AMF_STRING);
    EXPECT_EQ(text.text.View(), "abc");
}

TEST(Amf0Read, MalformedInputFailsInsideItsBounds)
{
    // A reference inside an object fails the whole decode.
    Bytes reference = Concat({{0x03, 0x00, 0x01}, Text("r"), {0x07, 0x00, 0x01}, {0x00, 0x00, 0x09}});
    AmfProperty property;
    EXPECT_EQ(DecodeProperty(property, reference.data(), static_cast<int>(reference.size()), false), -1);

    // Lengths that run past the buffer.
    Bytes shortString = {0x02, 0x00, 0x09, 'a', 'b'};
    EXPECT_EQ(DecodeProperty(property, shortString.data(), static_cast<int>(shortString.size()), false), -1);
    Bytes shortLong = {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'a'};
    EXPECT_EQ(DecodeProperty(property, shortLong.data(), static_cast<int>(shortLong.size()), false), -1);
    Bytes longName = {0x00, 0x09, 'a', 'b', 0x05};
    EXPECT_EQ(DecodeProperty(property, longName.data(), static_cast<int>(longName.size()), true), -1);
    Bytes shortNumber = {0x00, 0x3F, 0xF0};
    EXPECT_EQ(DecodeProperty(property, shortNumber.data(), static_cast<int>(shortNumber.size()), false), -1);

    // A strict array that claims four billion members ends at the first missing one.
    Bytes hugeArray = {0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x05};
    EXPECT_EQ(DecodeProperty(property, hugeArray.data(), static_cast<int>(hugeArray.size()), false), -1);

    // Nesting deeper than any server needs fails instead of exhausting the stack.
    Bytes deep;
    for (int i = 0; i < 100000; ++i) deep.insert(deep.end(), {0x00, 0x01, 'x', 0x03});
    Bytes nested = Concat({{0x03}, deep});
    EXPECT_EQ(DecodeProperty(property, nested.data(), static_cast<int>(nested.size()), false), -1);

    EXPECT_EQ(DecodeProperty(property, nullptr, 4, false), -1);
    EXPECT_EQ(DecodeProperty(property, reference.data(), 0, false), -1);
}

TEST(Amf0Read, ListStopsAtTheEndMarkerAndUnknownMarkersHaveNoPayload)
{
    Bytes body = {0x05, 0x00, 0x00, 0x09, 0x05, 0x05};
    AmfObject values;
    EXPECT_EQ(DecodeList(values, body.data(), static_cast<int>(body.size()), false), 4);
    EXPECT_EQ(values.Count(), 1u);

    Bytes amf3 = {0x11, 0x05};
    AmfObject unknown;
    EXPECT_EQ(DecodeList(unknown, amf3.data(), static_cast<int>(amf3.size()), false), 2);
    ASSERT_EQ(unknown.Count(), 2u);
    EXPECT_EQ(unknown.properties[0].type, 0x11);
}
