#include "renbase.h"

#include <chrono>

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin("Renderer input pin", renderer, &renderer->m_InterfaceLock, phr, name), renderer_(renderer)
{
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    HRESULT hr = CBaseInputPin::NonDelegatingQueryInterface(iid, ppv);
    return hr == E_NOINTERFACE ? renderer_->GetInputPinInterface(iid, ppv) : hr;
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return renderer_->Receive(sample);
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::EndOfStream()
{
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return renderer_->EndOfStream();
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    return renderer_->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::EndFlush()
{
    renderer_->EndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mt) { return renderer_->CheckMediaType(mt); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* mt)
{
    HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return renderer_->SetMediaType(mt);
}

HRESULT CRendererInputPin::BreakConnect()
{
    renderer_->BreakConnect();
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin)
{
    HRESULT hr = renderer_->CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT* phr, LPCWSTR pinName)
    : CBaseFilter(name, outer, &m_InterfaceLock, clsid, phr)
{
    m_pInputPin = new CRendererInputPin(this, phr, pinName);
}

CBaseRenderer::~CBaseRenderer() { delete m_pInputPin; }

HRESULT STDMETHODCALLTYPE CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(iid, ppv);
}

CBasePin* CBaseRenderer::GetPin(int n) { return n == 0 ? m_pInputPin : nullptr; }

void CBaseRenderer::Wake()
{
    { std::lock_guard lock(waitMutex_); }
    wake_.notify_all();
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Stop()
{
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) return S_OK;
    HRESULT hr = CBaseFilter::Stop();
    {
        std::lock_guard wait(waitMutex_);
        endOfStream_ = false;
        completeSent_ = false;
    }
    wake_.notify_all();
    // The streaming thread leaves any wait now; let a render in progress finish.
    CAutoLock render(&m_RendererLock);
    OnStopStreaming();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Pause()
{
    CAutoLock lock(&m_InterfaceLock);
    bool starting = m_State == State_Stopped;
    if (starting) {
        HRESULT hr = OnStartStreaming();
        if (FAILED(hr)) return hr;
    }
    HRESULT hr = CBaseFilter::Pause();
    Wake();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&m_InterfaceLock);
    HRESULT hr = CBaseFilter::Run(start);
    Wake();
    if (SUCCEEDED(hr)) SendCompleteIfDue();
    return hr;
}

void CBaseRenderer::SendCompleteIfDue()
{
    {
        std::lock_guard lock(waitMutex_);
        if (!endOfStream_ || completeSent_ || m_State != State_Running) return;
        completeSent_ = true;
    }
    NotifyEvent(EC_COMPLETE, S_OK, 0);
}

bool CBaseRenderer::WaitForPresentation(IMediaSample* sample)
{
    std::unique_lock lock(waitMutex_);
    auto interrupted = [this] { return m_State == State_Stopped || flushing_; };
    if (!ScheduleSamples()) return !interrupted();
    // Paused: hold the sample until the graph runs.
    wake_.wait(lock, [&] { return interrupted() || m_State == State_Running; });
    if (interrupted()) return false;
    REFERENCE_TIME start, end;
    if (FAILED(sample->GetTime(&start, &end)) || !m_pClock) return true;
    while (!interrupted() && m_State == State_Running) {
        REFERENCE_TIME now = 0;
        m_pClock->GetTime(&now);
        REFERENCE_TIME due = m_tStart + start;
        if (now >= due) break;
        wake_.wait_for(lock, std::chrono::microseconds((due - now) / 10 + 1));
    }
    return !interrupted();
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample)
{
    {
        std::lock_guard lock(waitMutex_);
        if (endOfStream_) return VFW_E_SAMPLE_REJECTED_EOS;
    }
    if (!WaitForPresentation(sample)) return S_FALSE;
    CAutoLock render(&m_RendererLock);
    if (m_State == State_Stopped) return VFW_E_WRONG_STATE;
    return DoRenderSample(sample);
}

HRESULT CBaseRenderer::EndOfStream()
{
    {
        std::lock_guard lock(waitMutex_);
        if (m_State == State_Stopped) return S_OK;
        endOfStream_ = true;
    }
    SendCompleteIfDue();
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush()
{
    {
        std::lock_guard lock(waitMutex_);
        flushing_ = true;
        endOfStream_ = false;
        completeSent_ = false;
    }
    wake_.notify_all();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush()
{
    std::lock_guard lock(waitMutex_);
    flushing_ = false;
    return S_OK;
}
