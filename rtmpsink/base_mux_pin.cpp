#include "../interfaces/aux_filters.h"
#include "base_mux.h"

CBaseMuxInputPin::CBaseMuxInputPin(CBaseMux* filter, CCritSec* stateLock, HRESULT* phr, LPCWSTR name, int index)
    : CBaseInputPin("CBaseMuxInputPin", filter, stateLock, phr, name), mux_(filter), index_(index)
{
}

HRESULT CBaseMuxInputPin::CheckMediaType(const CMediaType* mt) { return mux_->CheckMediaType(mt); }

HRESULT CBaseMuxInputPin::SetMediaType(const CMediaType* mt)
{
    HRESULT hr = mux_->SetMediaType(this, mt);
    return FAILED(hr) ? hr : CBaseInputPin::SetMediaType(mt);
}

HRESULT CBaseMuxInputPin::BreakConnect()
{
    HRESULT hr = CBaseInputPin::BreakConnect();
    mux_->BreakConnect(this);
    return hr;
}

HRESULT CBaseMuxInputPin::CompleteConnect(IPin* receivePin)
{
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    return FAILED(hr) ? hr : mux_->CompleteConnect(this);
}

HRESULT CBaseMuxInputPin::QueueWhenRoom(PacketPtr packet)
{
    int32_t index = streamIndex;
    if (index < 0) return E_FAIL;
    if (!mux_->Interleaver().WaitForRoom(index, [this] { return mux_->IsStopping(); })) return E_FAIL;
    packet->streamIndex = index;
    return mux_->Interleaver().QueuePacket(std::move(packet)) ? S_OK : E_FAIL;
}

HRESULT CBaseMuxInputPin::Receive(IMediaSample* sample)
{
    CAutoLock lock(&receiveLock_);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (streamIndex < 0) return E_FAIL;

    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG length = sample->GetActualDataLength();
    PacketPtr packet = mux_->CreatePacket(data, length > 0 ? static_cast<uint32_t>(length) : 0, m_mt);

    REFERENCE_TIME start = 0, stop = 0;
    hr = sample->GetTime(&start, &stop);
    if (SUCCEEDED(hr)) {
        packet->hasTimes = 1;
        packet->start = start;
        packet->stop = hr == VFW_S_NO_STOP_TIME ? start : stop;
    }
    ComPtr<IEncoderSampleTimes> encoderTimes;
    if (SUCCEEDED(sample->QueryInterface(IID_IEncoderSampleTimes, encoderTimes.PutVoid())) && encoderTimes) {
        packet->hasEncoderTimes = 1;
        encoderTimes->GetSampleTimes(&packet->presentation, &packet->decoding, &packet->third);
    } else if (packet->hasTimes) {
        // Without the encoder's times the sample's own start stands for both.
        packet->presentation = packet->decoding = packet->start;
    }
    packet->syncPoint = sample->IsSyncPoint() == S_OK ? 1 : 0;
    return QueueWhenRoom(std::move(packet));
}

HRESULT CBaseMuxInputPin::EndOfStream()
{
    CAutoLock lock(&receiveLock_);
    PacketPtr packet = CMuxInterPacket::Create(0);
    packet->endOfStream = 1;
    return QueueWhenRoom(std::move(packet));
}
