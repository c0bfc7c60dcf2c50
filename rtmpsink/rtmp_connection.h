// RTMPConnection: one publishing session with an RTMP server. The transport (socket,
// handshake, chunk stream, control messages) and the command layer (connect, publish,
// metadata, teardown, the server's replies) share this one object.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "amf0.h"
#include "message_buffer.h"
#include "rtmp_chunk.h"
#include "rtmp_url.h"
#include "sink_log.h"

// What the metadata message tells about the streams.
struct MediaDescription {
    uint8_t hasAudio = 0;
    uint8_t hasVideo = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t frameDurationMs = 0;
    int32_t frameRate = 0;
};

class RTMPConnection {
public:
    RTMPConnection();
    ~RTMPConnection();
    RTMPConnection(const RTMPConnection&) = delete;
    RTMPConnection& operator=(const RTMPConnection&) = delete;

    void SetLog(std::shared_ptr<SinkLog> log) { log_ = std::move(log); }
    void SetNotifyWindow(uint32_t window) { notifyWindow_ = window; }
    void ParseConnectionString(const std::string& text) { url_ = ::ParseConnectionString(text); }
    const RtmpUrl& Url() const { return url_; }

    // ---- transport
    bool Connect();
    bool Handshake();
    bool ReadPacket(RtmpPacket& packet) { return reader_.ReadPacket(packet); }
    // `body` comes from a MessageBuffer (header room in front); it is changed by sending.
    bool SendPacket(const RtmpHeader& header, uint8_t* body, bool queue);
    // All bytes within one write time-out (10 s); a server that takes nothing that long fails it.
    bool WriteToSocket(const uint8_t* bytes, uint32_t count);
    // Callable from any thread: a write waiting for room fails at once, and so does every later
    // one that would have to wait, until AllowWrites.
    void AbortWrites();
    void AllowWrites();
    void CloseSocket();
    void SetSendBufferSize(int bytes);
    void SetNonBlocking();

    bool SendWindowAckSize();
    bool SendSetChunkSize(uint32_t size);
    bool SendPingResponse(uint32_t value);
    // Protocol control and user control messages (types 1, 3, 4, 5, 6).
    void HandleProtocolMessage(const RtmpPacket& packet);
    void HandleControl(const RtmpPacket& packet);

    // ---- commands
    bool SendConnect();
    bool SendReleaseStream();
    bool SendFCPublish();
    bool SendCreateStream();
    bool SendPublish();
    bool SendFCUnpublish();
    bool SendCloseStream();
    bool SendDeleteStream();
    bool SendMetadata();
    // FCUnpublish, closeStream, 300 ms, deleteStream, 300 ms.
    void Teardown();
    void HandleInvoke(const uint8_t* body, uint32_t size);
    // Reads until the publish status arrives, the socket closes or `limit` passes.
    void WaitForPublish(RtmpPacket& packet, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // ---- media: audio (type 8, chunk stream 6) or video (type 9, chunk stream 7) with a full
    // header; `body` has the header room in front of it.
    bool SendMediaMessage(uint8_t messageType, uint8_t* body, uint32_t size, uint32_t timestamp);
    // Records that a media message was just written.
    void NoteMediaSent();
    // How long the oldest media message that has not reached the server (still in the send
    // queue, or not yet acknowledged) has waited since it was written; 0 when none waits.
    // A live stream's delay at the server grows by this much.
    std::chrono::milliseconds MediaWaitingTime();

    uint8_t IsConnected() const { return connected_.load(); }
    uint8_t IsPublished() const { return published_.load(); }
    int32_t MessageStreamId() const { return messageStreamId_; }
    const std::deque<std::string>& PendingCalls() const { return pendingCalls_; }
    MediaDescription media;

    static constexpr uint32_t kPublishChunkSize = 262144;
    static constexpr int kSendBufferSize = 655360;

private:
    uint32_t ReadExactly(uint8_t* bytes, uint32_t count);
    // 0 once the socket takes bytes again; ETIMEDOUT, ECANCELED (aborted) or poll's error.
    int WaitUntilWritable(std::chrono::steady_clock::time_point deadline);
    bool SendCommand(RtmpHeader header, class AmfBody& body, bool queue);
    // A protocol or user control message on chunk stream 2, message stream 0, timestamp 0.
    bool SendControl(uint8_t headerType, uint8_t messageType, const uint8_t* body, uint32_t size);
    void OnConnectResult();
    void OnStatus(const amf::AmfObject& information);

    std::shared_ptr<SinkLog> log_;
    std::atomic<uint8_t> published_{0};
    std::atomic<uint8_t> connected_{0};
    uint32_t windowToAnnounce_ = 0;
    uint32_t serverWindow_ = 2500000;
    uint32_t serverPeerBandwidth_ = 2500000;
    uint8_t peerBandwidthLimitType_ = 2;
    uint32_t transactions_ = 0;
    int32_t messageStreamId_ = -1;
    std::deque<std::string> pendingCalls_;
    RtmpUrl url_;
    int socket_ = -1;
    // Guards closing the socket against AbortWrites from another thread.
    std::mutex socketLock_;
    bool writeWaiting_ = false;
    bool abortWrites_ = false;
    std::chrono::milliseconds writeTimeout_;
    uint64_t bytesWritten_ = 0;
    struct MediaInFlight {
        uint64_t endOffset;  // bytesWritten_ after the message
        std::chrono::steady_clock::time_point written;
    };
    std::deque<MediaInFlight> mediaInFlight_;
    uint32_t notifyWindow_ = 0;
    uint32_t lastSendSize_ = 0;
    long lastSendResult_ = 0;
    ChunkWriter writer_;
    ChunkReader reader_;
};
