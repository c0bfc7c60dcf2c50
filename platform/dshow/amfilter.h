// The filter and pin base classes: CBaseFilter, CBasePin, CBaseOutputPin, CBaseInputPin and
// their enumerators. Lock order: the filter's state lock (m_pLock), then a pin's streaming
// lock if it has one; streaming calls (Receive, EndOfStream) never take the state lock.
#pragma once

#include "amalloc.h"
#include "combase.h"
#include "control.h"
#include "mtype.h"
#include "reftime.h"
#include "wxutil.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
    friend class CBasePin;

public:
    // pLock is the state lock, shared with the pins.
    CBaseFilter(const char* name, IUnknown* outer, CCritSec* pLock, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;
    // IAMovieSetup: filter registration is not used on this platform.
    HRESULT STDMETHODCALLTYPE Register() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Unregister() override { return S_FALSE; }

    // Pins are owned by the derived filter; GetPin returns them without a reference.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    // Stream time = reference time - start time; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(CRefTime& time);
    BOOL IsActive();
    BOOL IsStopped();
    // Sends an event to the graph; EC_COMPLETE carries this filter as its second parameter.
    HRESULT NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);
    IFilterGraph* GetFilterGraph() { return m_pGraph; }
    // Asks the graph to reconnect the pin, with mt when the graph offers IFilterGraph2.
    HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mt);
    virtual LONG GetPinVersion();
    void IncrementPinVersion();
    CCritSec* pStateLock() { return m_pLock; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};  // read by streaming threads
    IReferenceClock* m_pClock = nullptr;  // referenced
    // Written by Run on the control thread, read by streaming threads (StreamTime, renderers).
    std::atomic<REFERENCE_TIME> m_tStart{0};
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::u16string m_pName;         // name in the graph
    IFilterGraph* m_pGraph = nullptr;  // not referenced: the graph owns the filter
    IMediaEventSink* m_pSink = nullptr;  // not referenced
    LONG m_PinVersion = 1;
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name,
             PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;
    // A pin lives as long as its filter: its references are the filter's.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override = 0;
    HRESULT STDMETHODCALLTYPE EndFlush() override = 0;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    // Negotiation steps that derived pins override.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* mt);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The preferred types by position: VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int position, CMediaType* mt);
    virtual LONG GetMediaTypeVersion();
    void IncrementTypeVersion();

    // State changes from the filter.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME start) { return S_OK; }

    BOOL IsConnected() const { return m_Connected != nullptr; }
    BOOL IsStopped() const { return m_pFilter->m_State == State_Stopped; }
    IPin* GetConnected() const { return m_Connected; }
    CMediaType& CurrentMediaType() { return m_mt; }
    const std::u16string& Name() const { return m_pName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    double CurrentRate() const { return m_dRate; }
    HRESULT DisconnectInternal();

protected:
    virtual HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* mt);
    virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mt);
    HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types);

    std::u16string m_pName;
    IPin* m_Connected = nullptr;  // referenced
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    LONG m_TypeVersion = 1;
    CMediaType m_mt;
    CRefTime m_tStart;
    CRefTime m_tStop{INT64_MAX};
    double m_dRate = 1.0;
};

class CEnumPins : public IEnumPins, public RefCounted {
public:
    explicit CEnumPins(CBaseFilter* filter, const CEnumPins* from = nullptr);
    ~CEnumPins() override;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;

private:
    bool AreInSync() const;
    CBaseFilter* filter_;  // referenced
    int position_ = 0;
    LONG version_;
};

class CEnumMediaTypes : public IEnumMediaTypes, public RefCounted {
public:
    explicit CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from = nullptr);
    ~CEnumMediaTypes() override;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;

private:
    bool AreInSync() const;
    CBasePin* pin_;  // referenced
    int position_ = 0;
    LONG version_;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;

    // Allocator negotiation: the input pin's allocator first, then our own (InitAllocator).
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // Creates the output pin's own allocator; override to hand out custom samples.
    virtual HRESULT InitAllocator(IMemAllocator** allocator);

    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                      DWORD flags);
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // Commits and decommits the allocator.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Output pins receive no stream control from upstream.
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }

    IMemInputPin* InputPin() const { return m_pInputPin; }
    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // referenced
    IMemInputPin* m_pInputPin = nullptr;    // referenced
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    // Checks the state and reads the sample's properties (SampleProps); a type change carried
    // on the sample is checked with CheckMediaType and, when accepted, made current.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;
    // S_OK while streaming, S_FALSE while flushing, an error when stopped or after a run-time error.
    virtual HRESULT CheckStreaming();
    BOOL IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator* PeekAllocator() const { return m_pAllocator; }
    BOOL IsFlushing() const { return m_bFlushing; }
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // referenced
    BOOL m_bReadOnly = FALSE;
    std::atomic<BOOL> m_bFlushing{FALSE};
    AM_SAMPLE2_PROPERTIES m_SampleProps{};
};
