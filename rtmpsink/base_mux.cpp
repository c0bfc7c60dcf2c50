#include "base_mux.h"

#include <cstring>

namespace {
constexpr auto kOutputWait = std::chrono::milliseconds(30);
}

CBaseMux::CBaseMux(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, outer, &m_csFilter, clsid, phr), CAMThread(phr)
{
}

CBaseMux::~CBaseMux() { StopWorker(); }

void CBaseMux::StopWorker()
{
    interleaver_.SetAbort();
    if (ThreadExists()) {
        CallWorker(kRequestExit);
        Close();
    }
}

int CBaseMux::GetPinCount()
{
    CAutoLock lock(&m_csFilter);
    return static_cast<int>(m_pins.size());
}

CBasePin* CBaseMux::GetPin(int n)
{
    CAutoLock lock(&m_csFilter);
    return n >= 0 && n < static_cast<int>(m_pins.size()) ? m_pins[n].get() : nullptr;
}

HRESULT CBaseMux::AddInputPin()
{
    HRESULT hr = S_OK;
    CBaseMuxInputPin* pin = CreateInputPin(u"InPin", &hr);
    if (!pin) return FAILED(hr) ? hr : E_FAIL;
    m_pins.emplace_back(pin);
    IncrementPinVersion();
    return S_OK;
}

HRESULT CBaseMux::CompleteConnect(CBaseMuxInputPin* pin)
{
    // A mux always offers a free input while it can take one more.
    for (auto& each : m_pins)
        if (!each->IsConnected()) return S_OK;
    AddInputPin();
    return S_OK;
}

PacketPtr CBaseMux::CreatePacket(const uint8_t* data, uint32_t length, const CMediaType& mt)
{
    PacketPtr packet = CMuxInterPacket::Create(length);
    if (length) std::memcpy(packet->data, data, length);
    packet->length = length;
    return packet;
}

std::vector<CBaseMuxInputPin*> CBaseMux::ConnectedPins()
{
    std::vector<CBaseMuxInputPin*> pins;
    for (auto& pin : m_pins)
        if (pin->IsConnected()) pins.push_back(pin.get());
    return pins;
}

HRESULT CBaseMux::Pause()
{
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Paused) return S_OK;
    interleaver_.ResetAbort();
    stopping_ = false;
    FILTER_STATE previous = m_State;
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) || previous != State_Stopped) return hr;
    std::vector<CBaseMuxInputPin*> pins = ConnectedPins();
    if (pins.empty()) return hr;
    streamPins_.clear();
    for (CBaseMuxInputPin* pin : pins) {
        int32_t index = interleaver_.AddStream(IsStreamRequired(&pin->CurrentMediaType()));
        streamPins_.push_back(pin);
        pin->streamIndex = index;
    }
    StartStreaming();
    if (!ThreadExists()) Create();
    CallWorker(kRequestRun);
    return hr;
}

HRESULT CBaseMux::Stop()
{
    CAutoLock lock(&m_csFilter);
    interleaver_.SetAbort();
    stopping_ = true;
    HRESULT hr = CBaseFilter::Stop();
    AbortOutput();
    StopWorker();
    StopStreaming();
    for (auto& pin : m_pins) pin->streamIndex = -1;
    interleaver_.RemoveAllStreams();
    streamPins_.clear();
    return hr;
}

DWORD CBaseMux::ThreadProc()
{
    for (;;) {
        DWORD request = GetRequest();
        switch (request) {
        case kRequestExit:
            Reply(0);
            return 0;
        case kRequestRun:
            Reply(0);
            OutputLoop();
            break;
        case kRequestPause:
            Reply(0);
            break;
        default:
            Reply(static_cast<DWORD>(E_FAIL));
            break;
        }
    }
}

void CBaseMux::OutputLoop()
{
    DWORD request;
    while (!CheckRequest(&request)) {
        PacketPtr packet;
        int result = interleaver_.GetNextPacket(kOutputWait, packet);
        if (result == CMuxInterleaver::kPacket) {
            int32_t index = packet->streamIndex;
            OutputPacket(*packet, streamPins_[index]);
        } else if (result == CMuxInterleaver::kAbort) {
            return;
        } else if (result == CMuxInterleaver::kEnd) {
            NotifyEvent(EC_COMPLETE, S_OK, 0);
            return;
        }
    }
}
