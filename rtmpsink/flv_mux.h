// CFLVMux: the RTMP publishing sink. Two inputs (H.264 video, AAC audio) feed the
// interleaver; the output thread writes FLV tags to the RTMP connection that the program
// steers through INetworkConnection. Lock order: state lock, then sink lock, then the
// connection lock; the sink lock is never held while waiting for the interleaver.
#pragma once

#include <memory>
#include <mutex>
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
    void AbortOutput() override;

    static constexpr int kMaxInputPins = 2;
    // How long media may wait for the network before video is dropped up to the next key frame.
    static constexpr int64_t kMaxBacklogMs = 3000;

private:
    // Writer reset, streams added, metadata sent; under the sink lock.
    void BeginStreamLocked();
    // Detaches and destroys the connection; under the sink lock.
    void DropConnectionLocked();
    // Replaces the connection under the connection lock; under the sink lock.
    void SwapConnectionLocked(std::unique_ptr<RTMPConnection>& other);
    // Whether a video packet goes out: from a key frame on, and only while the media waiting
    // for the network stays within kMaxBacklogMs. Under the sink lock.
    bool AdmitVideoLocked(const CMuxInterPacket& packet);
    // Logs how many frames the current run of drops took; under the sink lock.
    void EndDropRunLocked();

    CCritSec m_csSink;
    FLVWriter writer_;
    // Written under the sink lock and the connection lock, so threads that do not take the
    // sink lock (GetConnectionState, the aborts) read it under the connection lock alone.
    std::unique_ptr<RTMPConnection> connection_;
    std::mutex connectionLock_;
    bool dropping_ = false;
    uint32_t droppedInRun_ = 0;
    uint64_t droppedInSession_ = 0;
    std::string connectionString_;
    bool hasConnectionString_ = false;
    uint32_t notifyWindow_ = 0;
    std::shared_ptr<SinkLog> log_;
    uint8_t hasVideo_ = 0;
    uint8_t hasAudio_ = 0;
    uint8_t waitForSyncPoint_ = 0;
};
