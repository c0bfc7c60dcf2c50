// The commands a publishing session sends, each body in wire order.
#include <thread>

#include "amf_body.h"
#include "rtmp_connection.h"

namespace {

// Every command is built in a 4096-byte buffer that starts with the header room.
constexpr uint32_t kCommandBodyCapacity = 4096 - MessageBuffer::kHeaderRoom;
constexpr uint32_t kConnectionChunkStream = 3;
constexpr uint32_t kStreamChunkStream = 4;
constexpr uint32_t kPublishedStreamId = 1;
constexpr auto kTeardownPause = std::chrono::milliseconds(300);

RtmpHeader CommandHeader(uint32_t chunkStreamId, uint8_t headerType, uint32_t messageStreamId)
{
    RtmpHeader header;
    header.headerType = headerType;
    header.messageType = RTMP_COMMAND_AMF0;
    header.chunkStreamId = chunkStreamId;
    header.messageStreamId = messageStreamId;
    return header;
}

}  // namespace

bool RTMPConnection::SendCommand(RtmpHeader header, AmfBody& body, bool queue)
{
    if (body.Size() < 0) return false;
    header.bodySize = static_cast<uint32_t>(body.Size());
    return SendPacket(header, body.Body(), queue);
}

bool RTMPConnection::SendConnect()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("connect").Number(++transactions_).ObjectStart();
    if (!url_.app.empty()) body.NamedString("app", url_.app);
    if (!url_.tcUrl.empty()) body.NamedString("tcUrl", url_.tcUrl);
    body.NamedString("type", "nonprivate").NamedString("flashVer", "FMLE/3.0 (compatible; FMSc/1.0)").ObjectEnd();
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_FULL, 0), body, true);
}

bool RTMPConnection::SendReleaseStream()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("releaseStream").Number(++transactions_).Null().String(url_.streamName);
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_MEDIUM, 0), body, false);
}

bool RTMPConnection::SendFCPublish()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("FCPublish").Number(++transactions_).Null().String(url_.streamName);
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_MEDIUM, 0), body, false);
}

bool RTMPConnection::SendCreateStream()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("createStream").Number(++transactions_).Null();
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_FULL, 0), body, true);
}

bool RTMPConnection::SendPublish()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("publish").Number(++transactions_).Null().String(url_.streamName).String("live");
    return SendCommand(CommandHeader(kStreamChunkStream, RTMP_HEADER_FULL, kPublishedStreamId), body, true);
}

bool RTMPConnection::SendFCUnpublish()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("FCUnpublish").Number(++transactions_).Null().String(url_.streamName);
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_FULL, 0), body, false);
}

bool RTMPConnection::SendCloseStream()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("closeStream").Number(0).Null();
    return SendCommand(CommandHeader(kStreamChunkStream, RTMP_HEADER_MEDIUM, 0), body, true);
}

bool RTMPConnection::SendDeleteStream()
{
    AmfBody body(kCommandBodyCapacity);
    body.String("deleteStream").Number(0).Null().Number(messageStreamId_);
    return SendCommand(CommandHeader(kConnectionChunkStream, RTMP_HEADER_FULL, 0), body, false);
}

void RTMPConnection::Teardown()
{
    SendFCUnpublish();
    SendCloseStream();
    std::this_thread::sleep_for(kTeardownPause);
    SendDeleteStream();
    std::this_thread::sleep_for(kTeardownPause);
}

void RTMPConnection::OnConnectResult()
{
    SendWindowAckSize();
    SendSetChunkSize(kPublishChunkSize);
    SendReleaseStream();
    SendFCPublish();
    messageStreamId_ = kPublishedStreamId;
    SendCreateStream();
}
