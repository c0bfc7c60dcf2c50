// Protocol control and user control messages of RTMPConnection.
#include <cstring>

#include "amf0.h"
#include "rtmp_connection.h"

namespace {
constexpr uint32_t kControlChunkStream = 2;
constexpr uint16_t kEventPingRequest = 6;
constexpr uint16_t kEventPingResponse = 7;
}  // namespace

bool RTMPConnection::SendControl(uint8_t headerType, uint8_t messageType, const uint8_t* body, uint32_t size)
{
    MessageBuffer buffer(size);
    std::memcpy(buffer.Body(), body, size);
    RtmpHeader header;
    header.headerType = headerType;
    header.messageType = messageType;
    header.chunkStreamId = kControlChunkStream;
    header.bodySize = size;
    return SendPacket(header, buffer.Body(), false);
}

bool RTMPConnection::SendWindowAckSize()
{
    uint8_t body[4];
    amf::WriteInt32(body, body + 4, windowToAnnounce_);
    return SendControl(RTMP_HEADER_FULL, RTMP_WINDOW_ACK_SIZE, body, sizeof body);
}

bool RTMPConnection::SendSetChunkSize(uint32_t size)
{
    uint8_t body[4];
    amf::WriteInt32(body, body + 4, size);
    writer_.chunkSize = size;
    return SendControl(RTMP_HEADER_FULL, RTMP_SET_CHUNK_SIZE, body, sizeof body);
}

bool RTMPConnection::SendPingResponse(uint32_t value)
{
    uint8_t body[6];
    amf::WriteInt32(amf::WriteInt16(body, body + 6, kEventPingResponse), body + 6, value);
    return SendControl(RTMP_HEADER_MEDIUM, RTMP_USER_CONTROL, body, sizeof body);
}

void RTMPConnection::HandleProtocolMessage(const RtmpPacket& packet)
{
    const std::vector<uint8_t>& body = packet.body;
    switch (packet.header.messageType) {
    case RTMP_SET_CHUNK_SIZE:
        if (body.size() >= 4) reader_.SetChunkSize(amf::ReadInt32(body.data()));
        break;
    case RTMP_USER_CONTROL:
        HandleControl(packet);
        break;
    case RTMP_WINDOW_ACK_SIZE:
        if (body.size() >= 4) serverWindow_ = windowToAnnounce_ = amf::ReadInt32(body.data());
        break;
    case RTMP_SET_PEER_BANDWIDTH:
        if (body.size() >= 4) serverPeerBandwidth_ = windowToAnnounce_ = amf::ReadInt32(body.data());
        peerBandwidthLimitType_ = body.size() >= 5 ? body[4] : 255;
        break;
    default:  // Acknowledgement: the client keeps no count to check
        break;
    }
}

void RTMPConnection::HandleControl(const RtmpPacket& packet)
{
    const std::vector<uint8_t>& body = packet.body;
    if (body.size() <= 5) return;
    uint32_t event = amf::ReadInt16(body.data());
    // Stream-end and buffer events concern playback; a publisher answers only pings.
    if (event == kEventPingRequest) SendPingResponse(amf::ReadInt32(body.data() + 2));
}
