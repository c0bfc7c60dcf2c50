// INetworkConnection: how the program steers the sink's connection.
#include <thread>

#include "flv_mux.h"

namespace {
constexpr auto kDisconnectPause = std::chrono::milliseconds(300);
}

HRESULT CFLVMux::SetConnectionString(const char* url)
{
    connectionString_ = url ? url : "";
    return S_OK;
}

HRESULT CFLVMux::SetLogFolder(const char* folder)
{
    auto log = std::make_shared<SinkLog>(std::string(folder ? folder : "") + "rtmp.log");
    CAutoLock lock(&m_csSink);
    log_ = std::move(log);
    return S_OK;
}

HRESULT CFLVMux::SetNotifyWindow(uint32_t window)
{
    CAutoLock lock(&m_csSink);
    notifyWindow_ = window;
    return S_OK;
}

HRESULT CFLVMux::GetConnectionState(uint8_t* connected)
{
    if (!connected) return E_POINTER;
    std::lock_guard<std::mutex> hold(connectionLock_);
    *connected = connection_ ? connection_->IsConnected() : 0;
    return S_OK;
}

void CFLVMux::AbortOutput()
{
    std::lock_guard<std::mutex> hold(connectionLock_);
    if (connection_) connection_->AbortWrites();
}

void CFLVMux::SwapConnectionLocked(std::unique_ptr<RTMPConnection>& other)
{
    std::lock_guard<std::mutex> hold(connectionLock_);
    connection_.swap(other);
}

void CFLVMux::DropConnectionLocked()
{
    if (!connection_) return;
    writer_.SetStopped();
    writer_.Reset();
    std::unique_ptr<RTMPConnection> gone;
    SwapConnectionLocked(gone);
}

// The transport connect and the publish wait run without the sink lock, on an object the
// output thread cannot see yet; it becomes the filter's connection only when they are done.
HRESULT CFLVMux::Connect()
{
    AbortOutput();
    {
        CAutoLock lock(&m_csSink);
        DropConnectionLocked();
    }
    auto connection = std::make_unique<RTMPConnection>();
    connection->ParseConnectionString(connectionString_);
    LogLine(log_.get(), "CFLVMux::SetConnectionString");
    LogLine(log_.get(), connectionString_);
    connection->SetLog(log_);
    if (notifyWindow_) connection->SetNotifyWindow(notifyWindow_);
    if (!connection->Connect()) {
        LogLine(log_.get(), "CFLVMux::Connect: Connection Error");
        return 1;
    }
    RtmpPacket packet;
    connection->WaitForPublish(packet);
    CAutoLock lock(&m_csSink);
    SwapConnectionLocked(connection);
    return S_OK;
}

// A write that waits for a server that stopped reading holds the sink lock; it is aborted
// first, so Disconnect takes no longer than its pauses and at most one write time-out.
HRESULT CFLVMux::Disconnect()
{
    AbortOutput();
    CAutoLock lock(&m_csSink);
    if (connection_) {
        writer_.SetStopped();
        writer_.Reset();
        std::this_thread::sleep_for(kDisconnectPause);
        connection_->Teardown();
        std::unique_ptr<RTMPConnection> gone;
        SwapConnectionLocked(gone);
    }
    LogLine(log_.get(), "CFLVMux::Disconnect: OK");
    return S_OK;
}

HRESULT CFLVMux::StartStream()
{
    CAutoLock lock(&m_csSink);
    if (connection_) connection_->SetNonBlocking();
    BeginStreamLocked();
    return S_OK;
}
