// CFLVMux: the RTMP publishing sink. Two inputs (H.264 video, AAC audio) feed the
// interleaver; the output thread writes FLV tags to the RTMP connection that the program
// steers through INetworkConnection. Lock order: state lock, then sink lock; the sink lock
// is never held while waiting for the interleaver.
#pragma once

#include <memory>
#include <string>

#include "../interfaces/network_connection.h"
#include "base_mux.h"
#include "flv_writer.h"
#include "rtmp_connection.h"
#include "sink_log.h"

class CFLVMux : public CBaseMux, public INetworkConnection {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    CFLVMux(IUnknown* outer, HRESULT* phr);
    ~CFLVMux() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    // INetworkConnection
    HRESULT STDMETHODCALLTYPE SetConnectionString(const char* url) override;
    HRESULT STDMETHODCALLTYPE SetLogFolder(const char* folder) override;
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(uint32_t window) override;
    HRESULT STDMETHODCALLTYPE GetConnectionState(uint8_t* connected) override;
    HRESULT STDMETHODCALLTYPE Connect() override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE StartStream() override;

    // CBaseMux
    CBaseMuxInputPin* CreateInputPin(LPCWSTR name, HRESULT* phr) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(CBaseMuxInputPin* pin, const CMediaType* mt) override;
    HRESULT BreakConnect(CBaseMuxInputPin* pin) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT OutputPacket(CMuxInterPacket& packet, CBaseMuxInputPin* pin) override;
    PacketPtr CreatePacket(const uint8_t* data, uint32_t length, const CMediaType& mt) override;

    static constexpr int kMaxInputPins = 2;

private:
    // Writer reset, streams added, metadata sent; under the sink lock.
    void BeginStreamLocked();
    // Detaches and destroys the connection; under the sink lock.
    void DropConnectionLocked();

    CCritSec m_csSink;
    FLVWriter writer_;
    std::unique_ptr<RTMPConnection> connection_;
    std::string connectionString_;
    bool hasConnectionString_ = false;
    uint32_t notifyWindow_ = 0;
    std::shared_ptr<SinkLog> log_;
    uint8_t hasVideo_ = 0;
    uint8_t hasAudio_ = 0;
    uint8_t waitForSyncPoint_ = 0;
};
