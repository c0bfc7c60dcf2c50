#include <algorithm>

#include "amf0.h"
#include "rtmp_chunk.h"

namespace {
constexpr uint32_t kHeaderLengths[4] = {12, 8, 4, 1};
constexpr uint32_t kReadSlice = 64 * 1024;
}

void ChunkReader::SetChunkSize(uint32_t size)
{
    if (size >= 1 && size <= 0x7FFFFFFF) chunkSize_ = size;
}

void ChunkReader::DropPendingBodies()
{
    for (auto& [id, stream] : streams_) {
        stream.previous.body = {};
        stream.previous.bytesRead = 0;
    }
    pendingBytes_ = 0;
}

bool ChunkReader::ReadPacket(RtmpPacket& packet)
{
    uint8_t basic[3];
    if (input_(basic, 1) != 1) return false;
    uint8_t format = basic[0] >> 6;
    uint32_t id = basic[0] & 0x3F;
    if (id == 0) {
        if (input_(basic + 1, 1) != 1) return false;
        id = basic[1] + 64u;
    } else if (id == 1) {
        if (input_(basic + 1, 2) != 2) return false;
        id = basic[1] + basic[2] * 256u + 64u;
    }

    uint32_t headerLength = kHeaderLengths[format];
    StreamState& stream = streams_[id];
    packet = {};
    if (headerLength == 12) {
        packet.hasAbsTimestamp = 1;
    } else if (stream.previous.header.chunkStreamId == id) {
        packet = std::move(stream.previous);
        stream.previous = {};
    }
    packet.header.chunkStreamId = id;
    packet.header.headerType = format;
    // A short read leaves the stream out of step; its unfinished message is dropped.
    auto fail = [&] {
        pendingBytes_ -= std::min(pendingBytes_, packet.body.size());
        packet = {};
        return false;
    };

    uint8_t header[11];
    uint32_t fieldBytes = headerLength - 1;
    if (fieldBytes > 0 && input_(header, fieldBytes) != fieldBytes) return fail();
    bool timestampRead = fieldBytes >= 3;
    if (timestampRead) packet.header.timestamp = amf::ReadInt24(header);
    if (fieldBytes >= 6) {
        packet.header.bodySize = amf::ReadInt24(header + 3);
        packet.bytesRead = 0;
        pendingBytes_ -= std::min(pendingBytes_, packet.body.size());
        packet.body = {};
    }
    if (fieldBytes > 6) packet.header.messageType = header[6];
    if (fieldBytes == 11)
        packet.header.messageStreamId = uint32_t(header[7]) | (uint32_t(header[8]) << 8) |
                                        (uint32_t(header[9]) << 16) | (uint32_t(header[10]) << 24);
    if (timestampRead && packet.header.timestamp == 0xFFFFFF) {
        uint8_t extended[4];
        if (input_(extended, 4) != 4) return fail();
        packet.header.timestamp = amf::ReadInt32(extended);
    }

    uint32_t chunk = std::min(packet.header.bodySize - packet.bytesRead, chunkSize_);
    if (chunk > 0) {
        if (pendingBytes_ + chunk > kMaxPendingBytes) {
            // A server that opens more unfinished messages than any publisher needs loses them.
            pendingBytes_ -= std::min(pendingBytes_, packet.body.size());
            DropPendingBodies();
            packet.body = {};
            packet.bytesRead = 0;
        }
        // Read in slices so that memory follows the bytes that arrive, not the sizes claimed.
        for (uint32_t left = chunk; left > 0;) {
            uint32_t slice = std::min(left, kReadSlice);
            packet.body.resize(packet.body.size() + slice);
            pendingBytes_ += slice;
            if (input_(packet.body.data() + packet.body.size() - slice, slice) != slice) return fail();
            left -= slice;
        }
        packet.bytesRead += chunk;
    }

    packet.complete = packet.bytesRead == packet.header.bodySize;
    if (!packet.complete) {
        stream.previous = std::move(packet);
        packet = {};
        packet.header = stream.previous.header;
        packet.hasAbsTimestamp = stream.previous.hasAbsTimestamp;
        return true;
    }
    packet.absTimestamp = packet.hasAbsTimestamp ? packet.header.timestamp
                                                 : packet.header.timestamp + stream.lastAbsTimestamp;
    stream.lastAbsTimestamp = packet.absTimestamp;
    pendingBytes_ -= std::min(pendingBytes_, static_cast<size_t>(packet.bytesRead));
    stream.previous.header = packet.header;
    stream.previous.hasAbsTimestamp = 0;
    stream.previous.bytesRead = 0;
    stream.previous.body = {};
    return true;
}
