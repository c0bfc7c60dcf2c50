// CBaseMux: a sink filter whose inputs feed one interleaver, drained in time order by the
// filter's own output thread. Lock order: the state lock, then whatever the derived filter
// takes in its hooks; streaming threads take only their pin's lock and the interleaver's.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "dshow/amfilter.h"
#include "mux_interleaver.h"

class CBaseMux;

class CBaseMuxInputPin : public CBaseInputPin {
public:
    CBaseMuxInputPin(CBaseMux* filter, CCritSec* stateLock, HRESULT* phr, LPCWSTR name, int index);

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;

    int Index() const { return index_; }
    // The interleaver stream this pin feeds while the filter streams, -1 otherwise.
    std::atomic<int32_t> streamIndex{-1};

private:
    HRESULT QueueWhenRoom(PacketPtr packet);

    CBaseMux* mux_;
    int index_;
    CCritSec receiveLock_;
};

class CBaseMux : public CBaseFilter, public CAMThread {
public:
    CBaseMux(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr);
    ~CBaseMux() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    // Hooks of the derived filter, called by the pins and the state changes.
    virtual CBaseMuxInputPin* CreateInputPin(LPCWSTR name, HRESULT* phr) = 0;
    virtual HRESULT AddInputPin();
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT SetMediaType(CBaseMuxInputPin* pin, const CMediaType* mt) = 0;
    virtual HRESULT BreakConnect(CBaseMuxInputPin* pin) = 0;
    virtual HRESULT CompleteConnect(CBaseMuxInputPin* pin);
    virtual HRESULT StartStreaming() = 0;
    virtual HRESULT StopStreaming() = 0;
    virtual HRESULT OutputPacket(CMuxInterPacket& packet, CBaseMuxInputPin* pin) = 0;
    virtual bool IsStreamRequired(const CMediaType* mt) { return true; }
    // Makes an output call that waits (a stalled network) return soon; Stop calls it before it
    // waits for the output thread. Any thread.
    virtual void AbortOutput() {}
    // The one copy of a sample's bytes into a packet.
    virtual PacketPtr CreatePacket(const uint8_t* data, uint32_t length, const CMediaType& mt);

    CMuxInterleaver& Interleaver() { return interleaver_; }
    bool IsStopping() const { return stopping_.load(); }

protected:
    enum WorkerRequest : DWORD { kRequestExit = 0, kRequestPause = 1, kRequestRun = 2 };
    DWORD ThreadProc() override;
    void OutputLoop();
    // Ends the output thread; a derived filter calls it before its own parts go away.
    void StopWorker();
    // Connected pins in pin order.
    std::vector<CBaseMuxInputPin*> ConnectedPins();

    CCritSec m_csFilter;
    std::vector<std::unique_ptr<CBaseMuxInputPin>> m_pins;

private:
    CMuxInterleaver interleaver_;
    std::vector<CBaseMuxInputPin*> streamPins_;  // by interleaver stream index
    std::atomic<bool> stopping_{false};
};
