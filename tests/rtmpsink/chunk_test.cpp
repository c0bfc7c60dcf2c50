#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "message_buffer.h"
#include "rtmp_chunk.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Collects every write of a ChunkWriter as one run of bytes.
struct Capture {
    std::vector<Bytes> writes;
    ChunkWriter writer{[this](const uint8_t* bytes, uint32_t count) {
        writes.emplace_back(bytes, bytes + count);
        return true;
    }};

    bool Send(RtmpHeader header, uint32_t size, uint8_t fill = 0xAB)
    {
        MessageBuffer buffer(size);
        std::memset(buffer.Body(), fill, size);
        header.bodySize = size;
        return writer.Send(header, buffer.Body());
    }
};

// Serves a byte string to a ChunkReader as a socket would.
struct Feed {
    Bytes bytes;
    size_t at = 0;
    ChunkReader reader{[this](uint8_t* out, uint32_t count) -> uint32_t {
        if (bytes.size() - at < count) return 0;
        std::memcpy(out, bytes.data() + at, count);
        at += count;
        return count;
    }};
};

RtmpHeader Header(uint8_t type, uint8_t messageType, uint32_t chunkStream, uint32_t timestamp = 0,
                  uint32_t streamId = 0)
{
    RtmpHeader header;
    header.headerType = type;
    header.messageType = messageType;
    header.chunkStreamId = chunkStream;
    header.timestamp = timestamp;
    header.messageStreamId = streamId;
    return header;
}

}  // namespace

TEST(ChunkWriter, LargeVideoMessageAfterTheChunkSizeChange)
{
    Capture capture;
    capture.writer.chunkSize = 262144;
    ASSERT_TRUE(capture.Send(Header(0, RTMP_VIDEO, 7, 40, 1), 300000));
    ASSERT_EQ(capture.writes.size(), 2u);
    EXPECT_EQ(capture.writes[0].size(), 12u + 262144);
    EXPECT_EQ(Bytes(capture.writes[0].begin(), capture.writes[0].begin() + 12),
              (Bytes{0x07, 0x00, 0x00, 0x28, 0x04, 0x93, 0xE0, 0x09, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(capture.writes[1].size(), 1u + 37856);
    EXPECT_EQ(capture.writes[1][0], 0xC7);
    EXPECT_EQ(capture.writes[1][1], 0xAB);
}

TEST(ChunkWriter, CommandCutIntoDefaultChunks)
{
    Capture capture;
    ASSERT_TRUE(capture.Send(Header(0, RTMP_COMMAND_AMF0, 3), 300));
    ASSERT_EQ(capture.writes.size(), 3u);
    EXPECT_EQ(capture.writes[0].size(), 12u + 128);
    EXPECT_EQ(capture.writes[1].size(), 1u + 128);
    EXPECT_EQ(capture.writes[2].size(), 1u + 44);
    EXPECT_EQ(capture.writes[1][0], 0xC3);
    EXPECT_EQ(capture.writes[2][0], 0xC3);
    // Continuation headers overwrite sent bytes, never the bytes still to go.
    for (size_t i = 1; i < capture.writes[2].size(); ++i) EXPECT_EQ(capture.writes[2][i], 0xAB);
}

TEST(ChunkWriter, ExtendedTimestampAndLongChunkStreamIds)
{
    Capture capture;
    ASSERT_TRUE(capture.Send(Header(0, RTMP_AUDIO, 6, 0x1000000, 1), 2));
    EXPECT_EQ(capture.writes[0], (Bytes{0x06, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00, 0x01,
                                        0x00, 0x00, 0x00, 0xAB, 0xAB}));
    ASSERT_TRUE(capture.Send(Header(3, RTMP_AUDIO, 69), 1));
    EXPECT_EQ(capture.writes[1], (Bytes{0xC0, 0x05, 0xAB}));
    ASSERT_TRUE(capture.Send(Header(3, RTMP_AUDIO, 400), 1));
    EXPECT_EQ(capture.writes[2], (Bytes{0xC1, 0x50, 0x01, 0xAB}));
}

TEST(ChunkWriter, RepeatedHeadersAreCompressed)
{
    Capture capture;
    ASSERT_TRUE(capture.Send(Header(0, RTMP_COMMAND_AMF0, 3), 20));
    ASSERT_TRUE(capture.Send(Header(1, RTMP_COMMAND_AMF0, 3), 20));
    EXPECT_EQ(capture.writes[1][0], 0xC3);
    EXPECT_EQ(capture.writes[1].size(), 1u + 20);
    // Another size keeps the 8-byte header; a full header is never compressed.
    ASSERT_TRUE(capture.Send(Header(1, RTMP_COMMAND_AMF0, 3), 21));
    EXPECT_EQ(capture.writes[2][0], 0x43);
    EXPECT_EQ(capture.writes[2].size(), 8u + 21);
    ASSERT_TRUE(capture.Send(Header(0, RTMP_COMMAND_AMF0, 3), 21));
    EXPECT_EQ(capture.writes[3][0], 0x03);
    EXPECT_FALSE(capture.Send(Header(4, RTMP_COMMAND_AMF0, 3), 1));
}

TEST(ChunkReader, ReassemblesInterleavedMessages)
{
    Feed feed;
    // Stream 3: a 200-byte command in two chunks; stream 69 (two-byte id) interleaved between them.
    Bytes first = {0x03, 0x00, 0x00, 0x05, 0x00, 0x00, 0xC8, 0x14, 0x00, 0x00, 0x00, 0x00};
    first.insert(first.end(), 128, 0x11);
    Bytes other = {0x40, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x09, 0x22, 0x22};
    Bytes second = {0xC3};
    second.insert(second.end(), 72, 0x33);
    // A type-1 chunk on stream 3 adds a timestamp delta to the last absolute one.
    Bytes third = {0x43, 0x00, 0x00, 0x02, 0x00, 0x00, 0x01, 0x14, 0x44};
    for (const Bytes& part : {first, other, second, third}) feed.bytes.insert(feed.bytes.end(), part.begin(), part.end());

    RtmpPacket packet;
    ASSERT_TRUE(feed.reader.ReadPacket(packet));
    EXPECT_FALSE(packet.complete);
    ASSERT_TRUE(feed.reader.ReadPacket(packet));
    EXPECT_TRUE(packet.complete);
    EXPECT_EQ(packet.header.chunkStreamId, 69u);
    EXPECT_EQ(packet.body, (Bytes{0x22, 0x22}));
    ASSERT_TRUE(feed.reader.ReadPacket(packet));
    ASSERT_TRUE(packet.complete);
    EXPECT_EQ(packet.header.chunkStreamId, 3u);
    EXPECT_EQ(packet.header.messageType, RTMP_COMMAND_AMF0);
    ASSERT_EQ(packet.body.size(), 200u);
    EXPECT_EQ(packet.body[127], 0x11);
    EXPECT_EQ(packet.body[128], 0x33);
    EXPECT_EQ(packet.absTimestamp, 5u);
    ASSERT_TRUE(feed.reader.ReadPacket(packet));
    ASSERT_TRUE(packet.complete);
    EXPECT_EQ(packet.absTimestamp, 7u);
    EXPECT_EQ(packet.body, (Bytes{0x44}));
    EXPECT_FALSE(feed.reader.ReadPacket(packet));
}

TEST(ChunkReader, ExtendedTimestampsAndChunkSizes)
{
    Feed feed;
    feed.bytes = {0x02, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0x12, 0x00, 0x00, 0x00, 0x00,
                  0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
    RtmpPacket packet;
    ASSERT_TRUE(feed.reader.ReadPacket(packet));
    ASSERT_TRUE(packet.complete);
    EXPECT_EQ(packet.absTimestamp, 0x1000000u);
    EXPECT_EQ(packet.body, (Bytes{0xAA, 0xBB, 0xCC}));

    feed.reader.SetChunkSize(0);
    EXPECT_EQ(feed.reader.ChunkSize(), 128u);
    feed.reader.SetChunkSize(0x80000000u);
    EXPECT_EQ(feed.reader.ChunkSize(), 128u);
    feed.reader.SetChunkSize(0x7FFFFFFF);
    EXPECT_EQ(feed.reader.ChunkSize(), 0x7FFFFFFFu);
}

TEST(ChunkReader, ShortInputFailsAndKeepsNoPartialBody)
{
    Feed feed;
    feed.bytes = {0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02};
    RtmpPacket packet;
    EXPECT_FALSE(feed.reader.ReadPacket(packet));
    EXPECT_TRUE(packet.body.empty());
    // A message that claims 16 MB holds only the bytes that arrived.
    Feed big;
    big.bytes = {0x03, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x14, 0x00, 0x00, 0x00, 0x00};
    big.bytes.insert(big.bytes.end(), 128, 0x55);
    ASSERT_TRUE(big.reader.ReadPacket(packet));
    EXPECT_FALSE(packet.complete);
    EXPECT_TRUE(packet.body.empty());
}
