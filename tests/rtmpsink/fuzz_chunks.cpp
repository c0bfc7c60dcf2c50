// Chunk reassembly over an arbitrary byte stream, as a server would send it; protocol control
// messages change the chunk size on the way, as the session's read loop does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "amf0.h"
#include "rtmp_chunk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t at = 0;
    ChunkReader reader([&](uint8_t* out, uint32_t count) -> uint32_t {
        if (size - at < count) return 0;
        std::memcpy(out, data + at, count);
        at += count;
        return count;
    });
    RtmpPacket packet;
    while (reader.ReadPacket(packet)) {
        if (!packet.complete) continue;
        if (packet.header.messageType == RTMP_SET_CHUNK_SIZE && packet.body.size() >= 4)
            reader.SetChunkSize(amf::ReadInt32(packet.body.data()));
        if (packet.body.size() != packet.header.bodySize) __builtin_trap();
    }
    return 0;
}
