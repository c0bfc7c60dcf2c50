// The RTMP chunk stream: messages cut into chunks on the way out and reassembled from
// chunks on the way in. The socket is outside: the writer hands finished byte runs to an
// output, the reader asks an input for exact byte counts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

enum RtmpMessageType : uint8_t {
    RTMP_SET_CHUNK_SIZE = 1,
    RTMP_ACKNOWLEDGEMENT = 3,
    RTMP_USER_CONTROL = 4,
    RTMP_WINDOW_ACK_SIZE = 5,
    RTMP_SET_PEER_BANDWIDTH = 6,
    RTMP_AUDIO = 8,
    RTMP_VIDEO = 9,
    RTMP_DATA_AMF0 = 18,
    RTMP_COMMAND_AMF0 = 20,
    RTMP_AGGREGATE = 22,
};

// Header types: 0 full, 1 without message stream id, 2 timestamp only, 3 none.
constexpr uint8_t RTMP_HEADER_FULL = 0;
constexpr uint8_t RTMP_HEADER_MEDIUM = 1;
constexpr uint8_t RTMP_HEADER_SMALL = 2;
constexpr uint8_t RTMP_HEADER_MINIMUM = 3;

constexpr uint32_t RTMP_DEFAULT_CHUNK_SIZE = 128;

struct RtmpHeader {
    uint8_t headerType = RTMP_HEADER_FULL;
    uint8_t messageType = 0;
    uint32_t chunkStreamId = 0;
    uint32_t timestamp = 0;
    uint32_t messageStreamId = 0;
    uint32_t bodySize = 0;
};

// A received message or the chunk of one.
struct RtmpPacket {
    RtmpHeader header;
    uint8_t hasAbsTimestamp = 0;
    uint32_t absTimestamp = 0;
    uint32_t bytesRead = 0;
    bool complete = false;       // body holds the whole message
    std::vector<uint8_t> body;  // grows with the bytes that actually arrived
};

class ChunkWriter {
public:
    using Output = std::function<bool(const uint8_t* bytes, uint32_t count)>;
    explicit ChunkWriter(Output output) : output_(std::move(output)) {}

    // `body` has MessageBuffer::kHeaderRoom bytes in front of it; chunk headers are written there
    // and over already-sent body bytes, so the body is changed by sending.
    bool Send(RtmpHeader header, uint8_t* body);

    uint32_t chunkSize = RTMP_DEFAULT_CHUNK_SIZE;

private:
    Output output_;
    std::map<uint32_t, RtmpHeader> previous_;  // last header sent on each chunk stream
};

class ChunkReader {
public:
    // Reads exactly `count` bytes; returns the count read, 0 on failure or time-out.
    using Input = std::function<uint32_t(uint8_t* bytes, uint32_t count)>;
    explicit ChunkReader(Input input) : input_(std::move(input)) {}

    // Reads one chunk; false on a short read. `packet.complete` tells whether it ended a message.
    bool ReadPacket(RtmpPacket& packet);

    // Values outside 1..0x7FFFFFFF are ignored.
    void SetChunkSize(uint32_t size);
    uint32_t ChunkSize() const { return chunkSize_; }

    // Bytes of unfinished messages held at most; beyond it a server's partial messages are dropped.
    static constexpr size_t kMaxPendingBytes = 64u << 20;

private:
    struct StreamState {
        RtmpPacket previous;
        uint32_t lastAbsTimestamp = 0;
    };
    Input input_;
    uint32_t chunkSize_ = RTMP_DEFAULT_CHUNK_SIZE;
    std::map<uint32_t, StreamState> streams_;
    size_t pendingBytes_ = 0;

    void DropPendingBodies();
};
