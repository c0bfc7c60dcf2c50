// A scripted RTMP server on 127.0.0.1 and a port the system picks: it takes one client at a
// time and lets the test read the client's messages and answer with any bytes it likes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "amf0.h"
#include "rtmp_chunk.h"

using Bytes = std::vector<uint8_t>;

// Builds AMF0 bodies for the server's replies.
struct AmfBuilder {
    Bytes bytes;
    AmfBuilder& String(std::string_view text);
    AmfBuilder& Number(double value);
    AmfBuilder& Null();
    AmfBuilder& ObjectStart();
    AmfBuilder& NamedString(std::string_view name, std::string_view text);
    AmfBuilder& ObjectEnd();
};

// A command reply: name, transaction, null, then an information object with code and level.
Bytes StatusBody(std::string_view command, double transaction, std::string_view code,
                 std::string_view description = "");

class FakeRtmpServer {
public:
    // A receive buffer size of the clients' sockets (0: the system's), so that a test can
    // stall the server with few bytes in flight.
    explicit FakeRtmpServer(int receiveBuffer = 0);
    ~FakeRtmpServer();
    bool Listening() const { return listener_ >= 0; }
    int Port() const { return port_; }
    // rtmp://127.0.0.1:PORT/<path>
    std::string Url(const std::string& path) const;

    // Accepts the next client and answers its handshake.
    bool Accept();
    // Accept, then answers connect, createStream and publish as a media server does.
    bool AcceptPublisher();
    // The next complete message of the client; false on time-out or close. A Set Chunk Size
    // from the client is applied before the message is returned.
    bool Read(RtmpPacket& packet, int timeoutMs = 5000);
    // Reads until the next command (or data) message and decodes its values.
    bool ReadCommand(RtmpPacket& packet, amf::AmfObject& values, int timeoutMs = 5000);
    bool Send(uint8_t messageType, uint32_t chunkStream, uint32_t streamId, const Bytes& body);
    bool SendCommand(const Bytes& body) { return Send(RTMP_COMMAND_AMF0, 3, 0, body); }
    bool SendRaw(const Bytes& bytes);
    void SetOutChunkSize(uint32_t size);
    void CloseClient();

private:
    uint32_t ReadExactly(uint8_t* bytes, uint32_t count);

    int listener_ = -1;
    int port_ = 0;
    int client_ = -1;
    std::unique_ptr<ChunkReader> reader_;
    std::unique_ptr<ChunkWriter> writer_;
};
