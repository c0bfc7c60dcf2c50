// CBaseRenderer: a filter with one input that consumes samples. While paused it holds the
// next sample (the preroll); while running it renders each sample at its presentation time
// (start time + the filter's start time on the clock) when ScheduleSamples says so, and
// sends EC_COMPLETE once the stream has ended and the filter runs.
#pragma once

#include <condition_variable>
#include <mutex>

#include "amfilter.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, LPCWSTR name);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;

private:
    CBaseRenderer* renderer_;
};

class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags {
    friend class CRendererInputPin;

public:
    CBaseRenderer(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT* phr, LPCWSTR pinName = u"In");
    ~CBaseRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    // What a renderer provides.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* mt) { return S_OK; }
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
    virtual HRESULT BreakConnect() { return S_OK; }
    virtual HRESULT CompleteConnect(IPin* receivePin) { return S_OK; }
    // False renders each sample as soon as it arrives, in pause too.
    virtual bool ScheduleSamples() const { return true; }
    // Called on the control thread around streaming.
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }
    // Further interfaces of the input pin (the File Writer's pin offers IStream).
    virtual HRESULT GetInputPinInterface(REFIID iid, void** ppv) { return E_NOINTERFACE; }

    HRESULT Receive(IMediaSample* sample);
    HRESULT EndOfStream();
    HRESULT BeginFlush();
    HRESULT EndFlush();

protected:
    CCritSec m_InterfaceLock;  // state lock
    CCritSec m_RendererLock;   // one DoRenderSample at a time
    CRendererInputPin* m_pInputPin = nullptr;

private:
    // Waits until the sample is due; false when a stop or flush interrupted the wait.
    bool WaitForPresentation(IMediaSample* sample);
    void Wake();
    void SendCompleteIfDue();

    std::mutex waitMutex_;
    std::condition_variable wake_;
    bool flushing_ = false;
    bool endOfStream_ = false;
    bool completeSent_ = false;
};
