#include "transfrm.h"

// ---- pins

CTransformInputPin::CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter)
{
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin)
{
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin)
{
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mt)
{
    HRESULT hr = m_pTransformFilter->CheckInputType(mt);
    if (hr != S_OK) return hr;
    // With the output already connected, the new input must still transform into its type.
    CTransformOutputPin* out = m_pTransformFilter->m_pOutput;
    if (out && out->IsConnected()) return m_pTransformFilter->CheckTransform(mt, &out->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt)
{
    HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::Receive(IMediaSample* sample)
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pTransformFilter->Receive(sample);
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndOfStream()
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pTransformFilter->EndOfStream();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::BeginFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBasePin::NewSegment(start, stop, rate);
    return m_pTransformFilter->NewSegment(start, stop, rate);
}

CTransformOutputPin::CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* phr,
                                         LPCWSTR name)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter)
{
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin)
{
    // The output type derives from the input's: connect the input first.
    if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin)
{
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return m_pTransformFilter->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mt)
{
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (!in->IsConnected()) return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), mt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mt)
{
    HRESULT hr = CBaseOutputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mt)
{
    if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
    return m_pTransformFilter->GetMediaType(position, mt);
}

// ---- filter

CTransformFilter::CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid)
{
}

CTransformFilter::~CTransformFilter()
{
    delete m_pInput;
    delete m_pOutput;
}

bool CTransformFilter::CreatePins()
{
    HRESULT hr = S_OK;
    m_pInput = new CTransformInputPin("Transform input pin", this, &hr, u"XForm In");
    m_pOutput = new CTransformOutputPin("Transform output pin", this, &hr, u"XForm Out");
    return SUCCEEDED(hr);
}

CBasePin* CTransformFilter::GetPin(int n)
{
    if (!m_pInput && !CreatePins()) {
        delete m_pInput;
        delete m_pOutput;
        m_pInput = nullptr;
        m_pOutput = nullptr;
        return nullptr;
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CTransformFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!id || !pin) return E_POINTER;
    std::u16string_view name(id);
    CBasePin* found = nullptr;
    if (name == u"In")
        found = GetPin(0);
    else if (name == u"Out")
        found = GetPin(1);
    if (found) return GetInterface(static_cast<IPin*>(found), reinterpret_cast<void**>(pin));
    return CBaseFilter::FindPin(id, pin);
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Stop()
{
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
        return S_OK;
    }
    // Decommit the input first so that a Receive blocked upstream returns, then wait for
    // the streaming thread to leave Receive.
    m_pInput->Inactive();
    CAutoLock receiveLock(&m_csReceive);
    m_pOutput->Inactive();
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Pause()
{
    CAutoLock lock(&m_csFilter);
    HRESULT hr = S_OK;
    if (m_State == State_Paused) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected()) {
        // Nothing will ever arrive: tell downstream at once.
        if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State == State_Stopped) {
            // The streaming thread owns these while samples flow: reset them only on a start.
            CAutoLock receiveLock(&m_csReceive);
            m_bSampleSkipped = false;
            m_bQualityChanged = false;
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
    }
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out)
{
    const AM_SAMPLE2_PROPERTIES* props = m_pInput->SampleProps();
    DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (!(props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) flags |= AM_GBF_NOTASYNCPOINT;
    IMediaSample* sample = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&sample, nullptr, nullptr, flags);
    if (FAILED(hr)) return hr;
    *out = sample;

    REFERENCE_TIME start = props->tStart, stop = props->tStop;
    if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID)
        sample->SetTime(&start, (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &stop : nullptr);
    if (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) sample->SetSyncPoint(TRUE);
    if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) sample->SetDiscontinuity(TRUE);
    if (props->dwSampleFlags & AM_SAMPLE_PREROLL) sample->SetPreroll(TRUE);
    LONGLONG mediaStart, mediaEnd;
    if (in->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) sample->SetMediaTime(&mediaStart, &mediaEnd);
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample)
{
    const AM_SAMPLE2_PROPERTIES* props = m_pInput->SampleProps();
    // Control data passes unchanged.
    if (props->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(sample);

    IMediaSample* out = nullptr;
    HRESULT hr = InitializeOutputSample(sample, &out);
    if (FAILED(hr)) return hr;
    hr = Transform(sample, out);
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(out);
        m_bSampleSkipped = false;
    } else if (hr == S_FALSE) {
        // The transform dropped this sample: the next one starts a discontinuity.
        m_bSampleSkipped = true;
        hr = S_OK;
    }
    out->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream()
{
    if (!m_pOutput) return S_OK;
    return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush() { return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK; }

HRESULT CTransformFilter::EndFlush() { return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK; }

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return m_pOutput ? m_pOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}
