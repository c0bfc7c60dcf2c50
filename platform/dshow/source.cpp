#include "source.h"

#include <algorithm>
#include <string>

#include "../com/taskmem.h"

CSource::CSource(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, outer, &m_cStateLock, clsid, phr)
{
}

CSource::~CSource()
{
    // Each stream removes itself from m_paStreams in its destructor.
    while (!m_paStreams.empty()) delete m_paStreams.back();
}

int CSource::GetPinCount()
{
    CAutoLock lock(&m_cStateLock);
    return int(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n)
{
    CAutoLock lock(&m_cStateLock);
    if (n < 0 || n >= int(m_paStreams.size())) return nullptr;
    return m_paStreams[size_t(n)];
}

HRESULT STDMETHODCALLTYPE CSource::FindPin(LPCWSTR id, IPin** pin)
{
    return CBaseFilter::FindPin(id, pin);
}

HRESULT CSource::AddPin(CSourceStream* pin)
{
    CAutoLock lock(&m_cStateLock);
    m_paStreams.push_back(pin);
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin)
{
    CAutoLock lock(&m_cStateLock);
    auto it = std::find(m_paStreams.begin(), m_paStreams.end(), pin);
    if (it == m_paStreams.end()) return S_FALSE;
    m_paStreams.erase(it);
    IncrementPinVersion();
    return S_OK;
}

int CSource::FindPinNumber(IPin* pin)
{
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i)
        if (static_cast<IPin*>(m_paStreams[i]) == pin) return int(i);
    return -1;
}

CSourceStream::CSourceStream(const char* objectName, HRESULT* phr, CSource* filter, LPCWSTR name)
    : CAMThread(phr), CBaseOutputPin(objectName, filter, filter->pStateLock(), phr, name), m_pFilter(filter)
{
    filter->AddPin(this);
}

CSourceStream::~CSourceStream() { m_pFilter->RemovePin(this); }

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id)
{
    // Pins are named by number ("1", "2", ...) for FindPin.
    if (!id) return E_POINTER;
    int n = m_pFilter->FindPinNumber(static_cast<IPin*>(this));
    if (n < 0) return VFW_E_NOT_FOUND;
    std::u16string text;
    for (char c : std::to_string(n + 1)) text += char16_t(c);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    std::copy(text.c_str(), text.c_str() + text.size() + 1, *id);
    return S_OK;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* mt)
{
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType preferred;
    if (FAILED(GetMediaType(&preferred))) return E_FAIL;
    return preferred == *mt ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* mt)
{
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(mt);
}

HRESULT CSourceStream::Active()
{
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;
    if (!IsConnected()) return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!Create()) return E_FAIL;
    hr = Init();
    if (FAILED(hr)) {
        // The thread has ended after refusing to start: join it, or a later Stop would wait
        // for a reply that never comes and the next Pause could not start a new thread.
        Close();
        CBaseOutputPin::Inactive();
        return hr;
    }
    return Pause();
}

HRESULT CSourceStream::Inactive()
{
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return S_OK;
    // Decommitting first releases a thread blocked in GetDeliveryBuffer.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr)) return hr;
    if (ThreadExists()) {
        hr = Stop();
        if (FAILED(hr)) return hr;
        hr = Exit();
        if (FAILED(hr)) return hr;
        Close();
    }
    return S_OK;
}

BOOL CSourceStream::CheckRequest(Command* command)
{
    DWORD param;
    if (!CAMThread::CheckRequest(&param)) return FALSE;
    if (command) *command = Command(param);
    return TRUE;
}

DWORD CSourceStream::ThreadProc()
{
    Command command;
    do {
        command = GetRequest();
        if (command != CMD_INIT) Reply(DWORD(E_UNEXPECTED));
    } while (command != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(DWORD(hr));
        return 1;
    }
    Reply(S_OK);

    do {
        command = GetRequest();
        switch (command) {
        case CMD_EXIT:
        case CMD_STOP:
            Reply(S_OK);
            break;
        case CMD_RUN:
        case CMD_PAUSE:
            Reply(S_OK);
            DoBufferProcessingLoop();
            break;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    } while (command != CMD_EXIT);

    hr = OnThreadDestroy();
    return FAILED(hr) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop()
{
    OnThreadStartPlay();
    Command command;
    do {
        while (!CheckRequest(&command)) {
            if (!DeliversNow()) {
                Sleep(10);
                continue;
            }
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted while stopping: wait for the stop request.
                Sleep(1);
                continue;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                // Downstream refused the sample (flushing, stopping or an error): stop pushing.
                if (hr != S_OK) return S_OK;
            } else if (hr == S_FALSE) {
                sample->Release();
                if (EndsStreamOnFalse()) {
                    DeliverEndOfStream();
                    return S_OK;
                }
            } else {
                sample->Release();
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        // Run and pause requests change nothing here; stop and exit end the loop.
        if (command == CMD_RUN || command == CMD_PAUSE)
            Reply(S_OK);
        else if (command != CMD_STOP && command != CMD_EXIT)
            Reply(DWORD(E_UNEXPECTED));
    } while (command != CMD_STOP && command != CMD_EXIT);
    return S_FALSE;
}
