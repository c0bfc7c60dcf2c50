#include "capture_pin.h"

#include <cstring>

#include "../com/taskmem.h"
#include "../dshow/refclock.h"
#include "../dshow/uuids.h"

namespace {

constexpr int kPollMs = 50;  // longest wait before a pending stop is noticed
constexpr HRESULT E_PROP_SET_UNSUPPORTED = static_cast<HRESULT>(0x80070492);
constexpr HRESULT E_PROP_ID_UNSUPPORTED = static_cast<HRESULT>(0x80070490);

// Two offered types of the same format and header kind, whatever their frame rates.
bool SameFormat(const CMediaType& a, const CMediaType& b)
{
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.cbFormat != b.cbFormat)
        return false;
    if (a.majortype != MEDIATYPE_Video) return memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
    const BITMAPINFOHEADER* x = GetBitmapInfoHeader(a);
    const BITMAPINFOHEADER* y = GetBitmapInfoHeader(b);
    return x && y && memcmp(x, y, sizeof *x) == 0;
}

}  // namespace

CapturePin::CapturePin(HRESULT* phr, CaptureFilter* filter) : CSourceStream("Capture", phr, filter, u"Capture") {}

HRESULT CapturePin::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(iid, ppv);
}

// ---- IKsPropertySet -----------------------------------------------------------------------

HRESULT CapturePin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) { return E_NOTIMPL; }

HRESULT CapturePin::Get(REFGUID propSet, DWORD id, LPVOID, DWORD, LPVOID propData, DWORD propSize, DWORD* returned)
{
    if (propSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!propData && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!propData) return S_OK;
    if (propSize < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(propData) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

HRESULT CapturePin::QuerySupported(REFGUID propSet, DWORD id, DWORD* support)
{
    if (propSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---- IAMStreamConfig ------------------------------------------------------------------------

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* mt)
{
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    CMediaType chosen;
    if (!Normalize(*mt, &chosen)) return VFW_E_INVALIDMEDIATYPE;
    setFormat_ = chosen;
    IncrementTypeVersion();
    if (!IsConnected()) return S_OK;
    HRESULT hr = GetConnected()->QueryAccept(&setFormat_);
    if (hr != S_OK) return VFW_E_INVALIDMEDIATYPE;
    return m_pFilter->ReconnectPin(this, &setFormat_);
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** mt)
{
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    CMediaType current;
    if (IsConnected()) current = m_mt;
    else if (setFormat_.IsValid()) current = setFormat_;
    else BuildType(0, &current);
    *mt = CreateMediaType(&current);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size)
{
    if (!count || !size) return E_POINTER;
    *count = TypeCount();
    *size = CapsSize();
    return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps)
{
    if (!mt || !caps) return E_POINTER;
    if (index < 0) return E_INVALIDARG;
    if (index >= TypeCount()) return S_FALSE;
    CMediaType type;
    BuildType(index, &type);
    *mt = CreateMediaType(&type);
    if (!*mt) return E_OUTOFMEMORY;
    FillCaps(index, caps);
    return S_OK;
}

// ---- Negotiation -----------------------------------------------------------------------------

HRESULT CapturePin::CheckMediaType(const CMediaType* mt)
{
    if (!mt) return E_POINTER;
    CMediaType offered;
    if (!Normalize(*mt, &offered)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (setFormat_.IsValid() && !SameFormat(offered, setFormat_)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CapturePin::GetMediaType(int position, CMediaType* mt)
{
    if (!mt) return E_POINTER;
    if (position < 0) return E_INVALIDARG;
    if (setFormat_.IsValid()) {
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = setFormat_;
        return S_OK;
    }
    if (position >= TypeCount()) return VFW_S_NO_MORE_ITEMS;
    BuildType(position, mt);
    return S_OK;
}

HRESULT CapturePin::SetMediaType(const CMediaType* mt)
{
    HRESULT hr = CSourceStream::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    if (!Normalize(*mt, nullptr)) return VFW_E_TYPE_NOT_ACCEPTED;
    Apply(*mt);
    return S_OK;
}

// ---- Streaming --------------------------------------------------------------------------------

// A device that cannot start leaves its worker thread ended and the allocator committed;
// clearing both lets a later start try again once the device is back.
HRESULT CapturePin::Active()
{
    HRESULT hr = CSourceStream::Active();
    if (FAILED(hr)) {
        if (ThreadExists()) Close();
        CBaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT CapturePin::Run(REFERENCE_TIME start)
{
    auto* filter = static_cast<CaptureFilter*>(m_pFilter);
    std::lock_guard<std::mutex> lock(clockLock_);
    clock_ = filter->Clock();
    REFERENCE_TIME now = CSystemClock::Now();
    if (clock_) clock_->GetTime(&now);
    start_ = clock_ ? start : now;
    runStart_ = now - start_;
    running_ = true;
    return CBaseOutputPin::Run(start);
}

void CapturePin::PauseDelivery()
{
    std::lock_guard<std::mutex> lock(clockLock_);
    running_ = false;
}

HRESULT CapturePin::Inactive()
{
    PauseDelivery();
    HRESULT hr = CSourceStream::Inactive();
    std::lock_guard<std::mutex> lock(clockLock_);
    clock_.Reset();
    return hr;
}

HRESULT CapturePin::OnThreadCreate()
{
    std::string error;
    samples_ = 0;
    base_ = -1;
    if (!StartDevice(&error)) return kDeviceNotFunctioning;
    timeline_ = CaptureTimeline(SampleDuration());
    return S_OK;
}

HRESULT CapturePin::OnThreadDestroy()
{
    StopDevice();
    return S_OK;
}

REFERENCE_TIME CapturePin::StreamNow()
{
    std::lock_guard<std::mutex> lock(clockLock_);
    if (!clock_) return CSystemClock::Now() - start_;
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    return now - start_;
}

void CapturePin::StreamTimes(REFERENCE_TIME taken, REFERENCE_TIME* at, REFERENCE_TIME* runStart)
{
    std::lock_guard<std::mutex> lock(clockLock_);
    REFERENCE_TIME monotonic = CSystemClock::Now();
    REFERENCE_TIME now = monotonic;
    if (clock_) clock_->GetTime(&now);
    *at = taken + (now - monotonic) - start_;
    *runStart = runStart_;
}

CapturePin::Wait CapturePin::WaitUntil(REFERENCE_TIME streamTime)
{
    for (;;) {
        Command command;
        if (CheckRequest(&command)) return Wait::Interrupted;
        REFERENCE_TIME left = streamTime - StreamNow();
        if (left <= 0) return Wait::Due;
        Sleep(DWORD(std::min<REFERENCE_TIME>(left / MILLISECONDS + 1, kPollMs)));
    }
}

HRESULT CapturePin::CaptureNext(IMediaSample* sample, REFERENCE_TIME* taken)
{
    for (;;) {
        *taken = -1;
        CaptureResult result = CaptureSample(sample, kPollMs, taken);
        if (result == CaptureResult::Lost) return kDeviceNotConnected;
        if (result == CaptureResult::Frame) return S_OK;
        Command command;
        if (CheckRequest(&command)) return S_FALSE;
    }
}

// Live capture: samples flow only while the filter runs. A device paced by the graph clock
// is asked for sample n once its end is due, and sample n covers [base + n * duration,
// base + (n + 1) * duration), base being the stream time of the first capture. A device that
// runs on its own clock is stamped from its capture times on the time line.
HRESULT CapturePin::FillBuffer(IMediaSample* sample)
{
    const REFERENCE_TIME duration = SampleDuration();
    REFERENCE_TIME taken, start, stop;
    if (!PacedByDevice()) {
        if (base_ < 0) base_ = std::max<REFERENCE_TIME>(0, StreamNow());
        start = base_ + REFERENCE_TIME(samples_) * duration;
        if (WaitUntil(start + duration) == Wait::Interrupted) return S_FALSE;
        HRESULT hr = CaptureNext(sample, &taken);
        if (hr != S_OK) return hr;
        stop = start + duration;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        ++samples_;
        return S_OK;
    }
    for (;;) {
        HRESULT hr = CaptureNext(sample, &taken);
        if (hr != S_OK) return hr;
        REFERENCE_TIME at, runStart;
        StreamTimes(taken, &at, &runStart);
        if (taken < 0) at = StreamNow() - duration;  // as it arrived
        bool discontinuity = false;
        if (timeline_.Stamp(at, runStart, &start, &stop, &discontinuity)) {
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            if (discontinuity) sample->SetDiscontinuity(TRUE);
            return S_OK;
        }
        Command command;
        if (CheckRequest(&command)) return S_FALSE;
    }
}

bool CapturePin::DeliversNow()
{
    std::lock_guard<std::mutex> lock(clockLock_);
    return running_;
}

// ---- Filter ---------------------------------------------------------------------------------------

CaptureFilter::CaptureFilter(const char* objectName, REFCLSID clsid, HRESULT* phr)
    : CSource(objectName, nullptr, clsid, phr)
{
}

HRESULT CaptureFilter::GetState(DWORD milliSecsTimeout, FILTER_STATE* state)
{
    HRESULT hr = CSource::GetState(milliSecsTimeout, state);
    if (SUCCEEDED(hr) && state && *state == State_Paused) return VFW_S_CANT_CUE;
    return hr;
}

HRESULT CaptureFilter::Pause()
{
    CAutoLock lock(pStateLock());
    if (m_State == State_Running)
        for (CSourceStream* pin : m_paStreams) static_cast<CapturePin*>(pin)->PauseDelivery();
    return CSource::Pause();
}
