#include "amfilter.h"

#include <cstring>

#include "../com/taskmem.h"

namespace {

// Copies a UTF-16 name into a fixed WCHAR array, truncated and terminated.
void CopyName(WCHAR* target, size_t capacity, const std::u16string& name)
{
    size_t n = std::min(name.size(), capacity - 1);
    std::memcpy(target, name.data(), n * sizeof(WCHAR));
    target[n] = 0;
}

}  // namespace

CBaseFilter::CBaseFilter(const char* name, IUnknown* outer, CCritSec* pLock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(name, outer, phr), m_clsid(clsid), m_pLock(pLock)
{
}

CBaseFilter::~CBaseFilter()
{
    if (m_pClock) m_pClock->Release();
}

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (iid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(iid, ppv);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop()
{
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause()
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr)) {
                    // The filter stays stopped, so Stop would skip the pins started so far.
                    for (int j = 0; j < i; ++j)
                        if (CBasePin* started = GetPin(j); started && started->IsConnected()) started->Inactive();
                    return hr;
                }
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start)
{
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Run(start);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (!state) return E_POINTER;
    CAutoLock lock(m_pLock);
    *state = m_State;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    CAutoLock lock(m_pLock);
    if (clock) clock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (!clock) return E_POINTER;
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(CRefTime& time)
{
    if (!m_pClock) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now;
    HRESULT hr = m_pClock->GetTime(&now);
    if (FAILED(hr)) return hr;
    time = now - m_tStart.load();
    return S_OK;
}

BOOL CBaseFilter::IsActive()
{
    CAutoLock lock(m_pLock);
    return m_State != State_Stopped;
}

BOOL CBaseFilter::IsStopped() { return m_State == State_Stopped; }

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins)
{
    if (!pins) return E_POINTER;
    *pins = new CEnumPins(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!id || !pin) return E_POINTER;
    CAutoLock lock(m_pLock);
    std::u16string_view wanted(id);
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
        CBasePin* candidate = GetPin(i);
        if (candidate && candidate->Name() == wanted) return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info) return E_POINTER;
    CopyName(info->achName, MAX_FILTER_NAME, m_pName);
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    m_pSink = nullptr;
    if (graph) {
        // Kept without a reference: the graph outlives its membership.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            m_pSink = sink;
            sink->Release();
        }
    }
    m_pName = name ? std::u16string(name) : std::u16string();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2)
{
    IMediaEventSink* sink = m_pSink;
    if (!sink) return E_NOTIMPL;
    if (eventCode == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(eventCode, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mt)
{
    if (!m_pGraph) return E_NOINTERFACE;
    IFilterGraph2* graph2 = nullptr;
    if (SUCCEEDED(m_pGraph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2))) && graph2) {
        HRESULT hr = graph2->ReconnectEx(pin, mt);
        graph2->Release();
        return hr;
    }
    return m_pGraph->Reconnect(pin);
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion; }

void CBaseFilter::IncrementPinVersion()
{
    CAutoLock lock(m_pLock);
    ++m_PinVersion;
}

// ---- enumerators

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* from)
    : filter_(filter), position_(from ? from->position_ : 0),
      version_(from ? from->version_ : filter->GetPinVersion())
{
    filter_->AddRef();
}

CEnumPins::~CEnumPins() { filter_->Release(); }

HRESULT STDMETHODCALLTYPE CEnumPins::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

bool CEnumPins::AreInSync() const { return version_ == filter_->GetPinVersion(); }

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched)
{
    if (!pins) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (count > 1) return E_INVALIDARG;
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG got = 0;
    int total = filter_->GetPinCount();
    while (got < count && position_ < total) {
        CBasePin* pin = filter_->GetPin(position_++);
        if (!pin) continue;
        pins[got] = pin;
        pin->AddRef();
        ++got;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count)
{
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    int left = filter_->GetPinCount() - position_;
    if (LONG(count) > left) return S_FALSE;
    position_ += int(count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset()
{
    version_ = filter_->GetPinVersion();
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** clone)
{
    if (!clone) return E_POINTER;
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    *clone = new CEnumPins(filter_, this);
    return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from)
    : pin_(pin), position_(from ? from->position_ : 0), version_(from ? from->version_ : pin->GetMediaTypeVersion())
{
    pin_->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { pin_->Release(); }

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

bool CEnumMediaTypes::AreInSync() const { return version_ == pin_->GetMediaTypeVersion(); }

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (count > 1) return E_INVALIDARG;
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG got = 0;
    while (got < count) {
        CMediaType mt;
        HRESULT hr = pin_->GetMediaType(position_, &mt);
        if (hr != S_OK) break;
        ++position_;
        types[got] = CreateMediaType(&mt);
        if (!types[got]) break;
        ++got;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count)
{
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    CMediaType mt;
    while (count > 0) {
        if (pin_->GetMediaType(position_, &mt) != S_OK) return S_FALSE;
        ++position_;
        --count;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset()
{
    position_ = 0;
    version_ = pin_->GetMediaTypeVersion();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** clone)
{
    if (!clone) return E_POINTER;
    if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    *clone = new CEnumMediaTypes(pin_, this);
    return S_OK;
}
