// The server's side of a publishing session: command replies and the wait for the publish status.
#include "rtmp_connection.h"

namespace {

// Statuses that end the session; any status at all ends the wait for publishing.
constexpr std::string_view kFailureCodes[] = {
    "NetStream.Failed",
    "NetStream.Play.Failed",
    "NetStream.Play.StreamNotFound",
    "NetConnection.Connect.InvalidApp",
};

}  // namespace

void RTMPConnection::HandleInvoke(const uint8_t* body, uint32_t size)
{
    if (size == 0 || body[0] != amf::AMF_STRING) return;
    amf::AmfObject values;
    if (amf::DecodeList(values, body, static_cast<int>(size), false) < 0) return;
    std::string_view command = amf::GetProperty(values, {}, 0).text.View();
    const amf::AmfObject& information = amf::GetProperty(values, {}, 3).object;

    if (command == "_result") {
        // Replies are matched to calls by order, not by transaction id.
        if (pendingCalls_.empty()) return;
        std::string call = std::move(pendingCalls_.front());
        pendingCalls_.pop_front();
        if (call == "connect") OnConnectResult();
        else if (call == "createStream") SendPublish();
    } else if (command == "_error") {
        LogLine(log_.get(), "RTMPConnection:: Error");
        CloseSocket();
    } else if (command == "close") {
        CloseSocket();
        LogLine(log_.get(), "RTMPConnection:: Server Reject");
    } else if (command == "onStatus") {
        OnStatus(information);
    }
}

void RTMPConnection::OnStatus(const amf::AmfObject& information)
{
    std::string_view code = amf::GetProperty(information, "code").text.View();
    for (std::string_view failure : kFailureCodes) {
        if (code == failure) {
            messageStreamId_ = -1;
            CloseSocket();
        }
    }
    LogLine(log_.get(), "RTMPConnection:: Publish Ok");
    published_ = 1;
}

void RTMPConnection::WaitForPublish(RtmpPacket& packet, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!published_ && connected_ && std::chrono::steady_clock::now() < deadline) {
        if (!ReadPacket(packet) || !packet.complete) continue;
        switch (packet.header.messageType) {
        case RTMP_SET_CHUNK_SIZE:
        case RTMP_ACKNOWLEDGEMENT:
        case RTMP_USER_CONTROL:
        case RTMP_WINDOW_ACK_SIZE:
        case RTMP_SET_PEER_BANDWIDTH:
            HandleProtocolMessage(packet);
            break;
        case RTMP_COMMAND_AMF0:
            HandleInvoke(packet.body.data(), static_cast<uint32_t>(packet.body.size()));
            break;
        case RTMP_AUDIO:
        case RTMP_VIDEO:
        case RTMP_DATA_AMF0:
        case RTMP_AGGREGATE:
            // A server that plays media to a publisher has skipped the status; stop waiting.
            return;
        default:
            break;
        }
    }
}
