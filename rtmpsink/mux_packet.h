// One queued sample. The packet and its bytes are one block, with room in front of the bytes
// for the FLV tag header and the chunk headers, so the sample is sent from where it lies.
// Blocks are recycled: a steady stream allocates nothing per sample.
#pragma once

#include <memory>

#include "com/wintypes.h"
#include "message_buffer.h"

struct CMuxInterPacket;
struct PacketDeleter {
    void operator()(CMuxInterPacket* packet) const;
};
using PacketPtr = std::unique_ptr<CMuxInterPacket, PacketDeleter>;

struct CMuxInterPacket {
    // Chunk header room plus the largest tag header (video: 5 bytes).
    static constexpr uint32_t kFrontRoom = MessageBuffer::kHeaderRoom + 5;

    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    uint8_t hasTimes = 0;
    uint8_t* data = nullptr;  // kFrontRoom writable bytes lie in front of it
    uint32_t length = 0;
    uint8_t hasEncoderTimes = 0;
    REFERENCE_TIME presentation = 0;
    REFERENCE_TIME decoding = 0;
    REFERENCE_TIME third = 0;
    uint8_t syncPoint = 0;
    int32_t streamIndex = -1;
    uint8_t endOfStream = 0;

    // A packet with room for `capacity` bytes of data; length starts at 0.
    static PacketPtr Create(uint32_t capacity);

private:
    friend struct PacketDeleter;
    uint8_t sizeClass_ = 0;  // which recycling list the block returns to
};
