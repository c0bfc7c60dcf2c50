#include <algorithm>

#include "amf0.h"
#include "message_buffer.h"
#include "rtmp_chunk.h"

namespace {

constexpr uint32_t kHeaderLengths[4] = {12, 8, 4, 1};
constexpr uint32_t kExtendedTimestamp = 0xFFFFFF;

uint32_t BasicHeaderExtension(uint32_t chunkStreamId)
{
    return chunkStreamId >= 320 ? 2 : chunkStreamId >= 64 ? 1 : 0;
}

// Writes the basic header of a chunk: format, then the id in its 1-, 2- or 3-byte form.
uint8_t* WriteBasicHeader(uint8_t* out, uint8_t headerType, uint32_t chunkStreamId)
{
    uint32_t extension = BasicHeaderExtension(chunkStreamId);
    uint8_t idField = extension == 0 ? static_cast<uint8_t>(chunkStreamId) : extension == 1 ? 0 : 1;
    *out++ = static_cast<uint8_t>(headerType << 6) | idField;
    if (extension >= 1) *out++ = static_cast<uint8_t>((chunkStreamId - 64) & 0xFF);
    if (extension == 2) *out++ = static_cast<uint8_t>((chunkStreamId - 64) >> 8);
    return out;
}

}  // namespace

bool ChunkWriter::Send(RtmpHeader header, uint8_t* body)
{
    auto previous = previous_.find(header.chunkStreamId);
    if (previous != previous_.end() && header.headerType != RTMP_HEADER_FULL) {
        if (previous->second.bodySize == header.bodySize && header.headerType == RTMP_HEADER_MEDIUM)
            header.headerType = RTMP_HEADER_SMALL;
        if (previous->second.messageStreamId == header.messageStreamId && header.headerType == RTMP_HEADER_SMALL)
            header.headerType = RTMP_HEADER_MINIMUM;
    }
    if (header.headerType > RTMP_HEADER_MINIMUM) return false;

    uint32_t headerLength = kHeaderLengths[header.headerType];
    uint32_t idExtension = BasicHeaderExtension(header.chunkStreamId);
    bool extendedTimestamp = headerLength > 1 && header.timestamp >= kExtendedTimestamp;
    uint32_t totalHeader = headerLength + idExtension + (extendedTimestamp ? 4 : 0);

    uint8_t* start = body - totalHeader;
    uint8_t* end = body;
    uint8_t* out = WriteBasicHeader(start, header.headerType, header.chunkStreamId);
    if (headerLength > 1)
        out = amf::WriteInt24(out, end, extendedTimestamp ? kExtendedTimestamp : header.timestamp);
    if (headerLength > 4) {
        out = amf::WriteInt24(out, end, header.bodySize);
        *out++ = header.messageType;
    }
    if (headerLength > 8)
        for (int i = 0; i < 4; ++i) *out++ = static_cast<uint8_t>(header.messageStreamId >> (8 * i));
    if (extendedTimestamp) out = amf::WriteInt32(out, end, header.timestamp);

    uint32_t continuationHeader = 1 + idExtension;
    uint32_t left = header.bodySize;
    uint32_t chunk = std::min(left, chunkSize);
    if (!output_(start, totalHeader + chunk)) return false;
    for (uint8_t* next = body + chunk; left -= chunk, left > 0; next += chunk) {
        chunk = std::min(left, chunkSize);
        WriteBasicHeader(next - continuationHeader, RTMP_HEADER_MINIMUM, header.chunkStreamId);
        if (!output_(next - continuationHeader, continuationHeader + chunk)) return false;
    }
    previous_[header.chunkStreamId] = header;
    return true;
}
