// Socket, handshake and the chunked message path of RTMPConnection.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "../interfaces/network_connection.h"
#include "amf0.h"
#include "rtmp_connection.h"
#include "winmsg/winmsg.h"

namespace {

constexpr uint32_t kHandshakeSize = 1536;
// Bounds every blocking step that has no time-out of its own (TCP connect, handshake reads),
// so a dead server cannot hold the caller for ever. Writes have one deadline of their own.
constexpr timeval kSocketTimeout = {10, 0};
constexpr timeval kReceiveTimeout = {0, 300000};
constexpr std::chrono::milliseconds kDefaultWriteTimeout{10000};
// Largest TCP segment the publisher sends: what an Ethernet path with a tunnel or PPPoE on it
// carries anyway. A link that shapes by a small bucket (a narrow uplink) never passes a
// segment larger than its bucket, and a loopback's 64 KiB segments would stall the session.
constexpr int kMaxSegmentSize = 1400;

// VELTRO_RTMP_WRITE_TIMEOUT_MS overrides how long one write may wait for the server to take
// its bytes (very slow links; tests that stall a server).
std::chrono::milliseconds WriteTimeoutFromEnvironment()
{
    const char* text = std::getenv("VELTRO_RTMP_WRITE_TIMEOUT_MS");
    long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? std::chrono::milliseconds(value) : kDefaultWriteTimeout;
}

bool ResolveHost(const std::string& host, in_addr& address)
{
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

RTMPConnection::RTMPConnection()
    : writeTimeout_(WriteTimeoutFromEnvironment()),
      writer_([this](const uint8_t* bytes, uint32_t count) { return WriteToSocket(bytes, count); }),
      reader_([this](uint8_t* bytes, uint32_t count) { return ReadExactly(bytes, count); })
{
}

RTMPConnection::~RTMPConnection() { CloseSocket(); }

bool RTMPConnection::Connect()
{
    in_addr address{};
    if (!ResolveHost(url_.host, address)) return false;
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ < 0) return false;
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &kSocketTimeout, sizeof kSocketTimeout);
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &kSocketTimeout, sizeof kSocketTimeout);
    setsockopt(socket_, IPPROTO_TCP, TCP_MAXSEG, &kMaxSegmentSize, sizeof kMaxSegmentSize);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(url_.port));
    server.sin_addr = address;
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        LogLine(log_.get(), "RTMPConnection::Connect() Failed");
        CloseSocket();
        return false;
    }
    connected_ = 1;
    if (!Handshake()) {
        CloseSocket();
        return false;
    }
    LogLine(log_.get(), "RTMPConnection:: Handshake Ok");
    if (!SendConnect()) return false;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &kReceiveTimeout, sizeof kReceiveTimeout);
    return true;
}

bool RTMPConnection::Handshake()
{
    uint8_t c0c1[1 + kHandshakeSize] = {0x03};
    uint32_t uptime = static_cast<uint32_t>(std::clock() / (CLOCKS_PER_SEC / 1000));
    amf::WriteInt32(c0c1 + 1, c0c1 + 5, uptime);
    for (uint32_t i = 9; i < sizeof c0c1; ++i) c0c1[i] = static_cast<uint8_t>(std::rand());
    if (!WriteToSocket(c0c1, sizeof c0c1)) return false;

    uint8_t s0;
    uint8_t s1[kHandshakeSize];
    uint8_t s2[kHandshakeSize];
    if (ReadExactly(&s0, 1) != 1) return false;
    if (ReadExactly(s1, kHandshakeSize) != kHandshakeSize) return false;
    if (ReadExactly(s2, kHandshakeSize) != kHandshakeSize) return false;
    return WriteToSocket(s1, kHandshakeSize);
}

uint32_t RTMPConnection::ReadExactly(uint8_t* bytes, uint32_t count)
{
    std::memset(bytes, 0, count);
    uint32_t got = 0;
    while (got < count) {
        ssize_t r = ::recv(socket_, bytes + got, count - got, 0);
        if (r > 0) {
            got += static_cast<uint32_t>(r);
            continue;
        }
        // A peer that closed or reset the connection is gone: the connected flag says so and
        // the readers stop instead of spinning on a dead socket. A time-out keeps it open.
        bool timedOut = r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        if (!timedOut) CloseSocket();
        return r == 0 ? got : 0;
    }
    return got;
}

// One deadline for the whole write. A full send buffer is back-pressure, not an error: the
// write waits for room within its deadline, whether or not the socket is in non-blocking mode.
bool RTMPConnection::WriteToSocket(const uint8_t* bytes, uint32_t count)
{
    if (!connected_) return count == 0;
    auto deadline = std::chrono::steady_clock::now() + writeTimeout_;
    uint32_t remaining = count;
    while (remaining > 0) {
        ssize_t r = ::send(socket_, bytes, remaining, MSG_NOSIGNAL | MSG_DONTWAIT);
        int code = r < 0 ? errno : 0;
        if (r < 0 && (code == EAGAIN || code == EWOULDBLOCK || code == EINTR)) {
            code = WaitUntilWritable(deadline);
            if (code == 0) continue;
        }
        lastSendSize_ = remaining;
        lastSendResult_ = static_cast<long>(r);
        if (notifyWindow_) PostMessageW(notifyWindow_, WM_RTMP_SENT, remaining, static_cast<LPARAM>(r));
        if (r < 0) {
            char line[80];
            std::snprintf(line, sizeof line, "RTMPConnection::WriteToSocket: SocketError errno=%d\n", code);
            LogLine(log_.get(), line);
            CloseSocket();
            return false;
        }
        if (r == 0) return false;
        bytes += r;
        remaining -= static_cast<uint32_t>(r);
        bytesWritten_ += static_cast<uint64_t>(r);
    }
    return true;
}

int RTMPConnection::WaitUntilWritable(std::chrono::steady_clock::time_point deadline)
{
    {
        std::lock_guard<std::mutex> hold(socketLock_);
        if (abortWrites_) return ECANCELED;
        writeWaiting_ = true;
    }
    int code = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            code = ETIMEDOUT;
            break;
        }
        pollfd wait{socket_, POLLOUT, 0};
        int ready = ::poll(&wait, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
        if (ready > 0) break;  // room, or an error that the next send reports
        if (ready < 0 && errno != EINTR) {
            code = errno;
            break;
        }
    }
    std::lock_guard<std::mutex> hold(socketLock_);
    writeWaiting_ = false;
    return code;
}

void RTMPConnection::AbortWrites()
{
    std::lock_guard<std::mutex> hold(socketLock_);
    abortWrites_ = true;
    // Shutting the socket down wakes the waiting write at once; it fails and closes the socket.
    if (writeWaiting_ && socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

void RTMPConnection::AllowWrites()
{
    std::lock_guard<std::mutex> hold(socketLock_);
    abortWrites_ = false;
}

void RTMPConnection::CloseSocket()
{
    connected_ = 0;
    published_ = 0;
    std::lock_guard<std::mutex> hold(socketLock_);
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void RTMPConnection::NoteMediaSent()
{
    mediaInFlight_.push_back({bytesWritten_, std::chrono::steady_clock::now()});
}

std::chrono::milliseconds RTMPConnection::MediaWaitingTime()
{
    int queued = 0;
    if (socket_ < 0 || ::ioctl(socket_, SIOCOUTQ, &queued) != 0) queued = 0;
    // Bytes up to this offset have reached the server; so has every message that ends there.
    uint64_t delivered = bytesWritten_ - std::min<uint64_t>(bytesWritten_, static_cast<uint64_t>(queued));
    while (!mediaInFlight_.empty() && mediaInFlight_.front().endOffset <= delivered) mediaInFlight_.pop_front();
    if (mediaInFlight_.empty()) return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 mediaInFlight_.front().written);
}

void RTMPConnection::SetSendBufferSize(int bytes)
{
    if (socket_ >= 0) setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void RTMPConnection::SetNonBlocking()
{
    int on = 1;
    if (socket_ >= 0) ioctl(socket_, FIONBIO, &on);
}

bool RTMPConnection::SendPacket(const RtmpHeader& header, uint8_t* body, bool queue)
{
    std::string name;
    if (queue && header.messageType == RTMP_COMMAND_AMF0) {
        amf::AmfProperty command;
        if (amf::DecodeProperty(command, body, static_cast<int>(header.bodySize), false) > 0)
            name = command.text.View();
    }
    if (!writer_.Send(header, body)) return false;
    if (queue && header.messageType == RTMP_COMMAND_AMF0) pendingCalls_.push_back(std::move(name));
    return true;
}

bool RTMPConnection::SendMediaMessage(uint8_t messageType, uint8_t* body, uint32_t size, uint32_t timestamp)
{
    RtmpHeader header;
    header.headerType = RTMP_HEADER_FULL;
    header.messageType = messageType;
    header.chunkStreamId = messageType == RTMP_VIDEO ? 7 : 6;
    header.timestamp = timestamp;
    header.messageStreamId = static_cast<uint32_t>(messageStreamId_);
    header.bodySize = size;
    return SendPacket(header, body, false);
}
