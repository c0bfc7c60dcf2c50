#include "fake_rtmp_server.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "message_buffer.h"

AmfBuilder& AmfBuilder::String(std::string_view text)
{
    bytes.insert(bytes.end(), {0x02, uint8_t(text.size() >> 8), uint8_t(text.size())});
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
}

AmfBuilder& AmfBuilder::Number(double value)
{
    uint8_t out[9];
    amf::WriteNumber(out, out + 9, value);
    bytes.insert(bytes.end(), out, out + 9);
    return *this;
}

AmfBuilder& AmfBuilder::Null()
{
    bytes.push_back(0x05);
    return *this;
}

AmfBuilder& AmfBuilder::ObjectStart()
{
    bytes.push_back(0x03);
    return *this;
}

AmfBuilder& AmfBuilder::NamedString(std::string_view name, std::string_view text)
{
    bytes.insert(bytes.end(), {uint8_t(name.size() >> 8), uint8_t(name.size())});
    bytes.insert(bytes.end(), name.begin(), name.end());
    return String(text);
}

AmfBuilder& AmfBuilder::ObjectEnd()
{
    bytes.insert(bytes.end(), {0x00, 0x00, 0x09});
    return *this;
}

Bytes StatusBody(std::string_view command, double transaction, std::string_view code, std::string_view description)
{
    AmfBuilder body;
    body.String(command).Number(transaction).Null().ObjectStart().NamedString("level", "status");
    body.NamedString("code", code).NamedString("description", description).ObjectEnd();
    return body.bytes;
}

FakeRtmpServer::FakeRtmpServer(int receiveBuffer)
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    // Set before listen, so accepted sockets inherit it and the window is sized by it.
    if (receiveBuffer > 0) setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(local.sin_port);
}

std::string FakeRtmpServer::Url(const std::string& path) const
{
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

FakeRtmpServer::~FakeRtmpServer()
{
    CloseClient();
    if (listener_ >= 0) close(listener_);
}

void FakeRtmpServer::CloseClient()
{
    if (client_ >= 0) close(client_);
    client_ = -1;
}

uint32_t FakeRtmpServer::ReadExactly(uint8_t* bytes, uint32_t count)
{
    uint32_t got = 0;
    while (got < count) {
        ssize_t r = recv(client_, bytes + got, count - got, 0);
        if (r <= 0) return 0;
        got += uint32_t(r);
    }
    return got;
}

bool FakeRtmpServer::Accept()
{
    CloseClient();
    pollfd wait{listener_, POLLIN, 0};
    if (poll(&wait, 1, 10000) != 1) return false;
    client_ = accept(listener_, nullptr, nullptr);
    if (client_ < 0) return false;
    reader_ = std::make_unique<ChunkReader>([this](uint8_t* b, uint32_t n) { return ReadExactly(b, n); });
    writer_ = std::make_unique<ChunkWriter>([this](const uint8_t* b, uint32_t n) { return SendRaw(Bytes(b, b + n)); });
    Bytes c0c1(1537);
    if (ReadExactly(c0c1.data(), 1537) != 1537 || c0c1[0] != 3) return false;
    Bytes s0s1s2(1 + 1536 * 2, 0x5A);
    s0s1s2[0] = 3;
    std::memcpy(s0s1s2.data() + 1 + 1536, c0c1.data() + 1, 1536);
    if (!SendRaw(s0s1s2)) return false;
    Bytes c2(1536);
    // The client echoes S1 as C2.
    return ReadExactly(c2.data(), 1536) == 1536 && c2 == Bytes(s0s1s2.begin() + 1, s0s1s2.begin() + 1537);
}

bool FakeRtmpServer::Read(RtmpPacket& packet, int timeoutMs)
{
    for (;;) {
        pollfd wait{client_, POLLIN, 0};
        if (poll(&wait, 1, timeoutMs) != 1) return false;
        if (!reader_->ReadPacket(packet)) return false;
        if (!packet.complete) continue;
        if (packet.header.messageType == RTMP_SET_CHUNK_SIZE && packet.body.size() >= 4)
            reader_->SetChunkSize(amf::ReadInt32(packet.body.data()));
        return true;
    }
}

bool FakeRtmpServer::ReadCommand(RtmpPacket& packet, amf::AmfObject& values, int timeoutMs)
{
    while (Read(packet, timeoutMs)) {
        uint8_t type = packet.header.messageType;
        if (type != RTMP_COMMAND_AMF0 && type != RTMP_DATA_AMF0) continue;
        values = {};
        return amf::DecodeList(values, packet.body.data(), int(packet.body.size()), false) >= 0;
    }
    return false;
}

bool FakeRtmpServer::Send(uint8_t messageType, uint32_t chunkStream, uint32_t streamId, const Bytes& body)
{
    MessageBuffer buffer(uint32_t(body.size()));
    std::memcpy(buffer.Body(), body.data(), body.size());
    RtmpHeader header;
    header.messageType = messageType;
    header.chunkStreamId = chunkStream;
    header.messageStreamId = streamId;
    header.bodySize = uint32_t(body.size());
    return writer_->Send(header, buffer.Body());
}

bool FakeRtmpServer::SendRaw(const Bytes& bytes)
{
    return client_ >= 0 && send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

void FakeRtmpServer::SetOutChunkSize(uint32_t size)
{
    Bytes body(4);
    amf::WriteInt32(body.data(), body.data() + 4, size);
    Send(RTMP_SET_CHUNK_SIZE, 2, 0, body);
    writer_->chunkSize = size;
}

bool FakeRtmpServer::AcceptPublisher()
{
    if (!Accept()) return false;
    RtmpPacket packet;
    amf::AmfObject values;
    for (;;) {
        if (!ReadCommand(packet, values)) return false;
        std::string_view name = amf::GetProperty(values, {}, 0).text.View();
        double transaction = amf::GetProperty(values, {}, 1).number;
        if (name == "connect" || name == "createStream") SendCommand(StatusBody("_result", transaction, ""));
        if (name == "publish") return SendCommand(StatusBody("onStatus", 0, "NetStream.Publish.Start"));
    }
}
