#include "encoder_filter.h"

#include "buffers.h"
#include "owned_sample.h"

CEncoderFilter::CEncoderFilter(const char* name, IUnknown* outer, REFCLSID clsid, const GUID& outputMajor,
                               const GUID& outputSubtype)
    : CTransformFilter(name, outer, clsid), outputMajor_(outputMajor), outputSubtype_(outputSubtype)
{
}

HRESULT CEncoderFilter::CheckInputType(const CMediaType* mt)
{
    return AcceptsInput(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CEncoderFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt)
{
    if (dir != PINDIR_INPUT) return S_OK;
    CAutoLock hold(&m_csReceive);
    return OpenEncoder(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CEncoderFilter::BreakConnect(PIN_DIRECTION dir)
{
    if (dir == PINDIR_INPUT) {
        CAutoLock hold(&m_csReceive);
        CloseEncoder();
    }
    return S_OK;
}

HRESULT CEncoderFilter::GetMediaType(int position, CMediaType* mt)
{
    if (!m_pInput->IsConnected() || !EncoderOpen()) return VFW_E_NOT_CONNECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&outputMajor_);
    mt->SetSubtype(&outputSubtype_);
    mt->SetVariableSize();
    FillOutputType(mt);
    return S_OK;
}

HRESULT CEncoderFilter::CheckTransform(const CMediaType* in, const CMediaType* out)
{
    return out->majortype == outputMajor_ && out->subtype == outputSubtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// Output samples are the encoder's own (COwnedSample): a frame's size is known only once it
// is encoded. The pin's allocator only serves the connection, so it stays minimal.
HRESULT CEncoderFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestBuffers(allocator, request, 1, 1);
}

HRESULT CEncoderFilter::Receive(IMediaSample* sample)
{
    if (!EncoderOpen()) return VFW_E_NOT_CONNECTED;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (!timed) start = nextTime_;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const auto size = static_cast<size_t>(sample->GetActualDataLength());
    nextTime_ = start + InputDuration(size);
    std::vector<EncodedFrame> frames;
    if (!Encode(data, size, start, timed, &frames)) return E_FAIL;
    return Deliver(frames);
}

HRESULT CEncoderFilter::EndOfStream()
{
    if (EncoderOpen()) {
        std::vector<EncodedFrame> frames;
        Flush(&frames);
        Deliver(frames);
    }
    return CTransformFilter::EndOfStream();
}

HRESULT CEncoderFilter::Deliver(const std::vector<EncodedFrame>& frames)
{
    HRESULT result = S_OK;
    for (const EncodedFrame& frame : frames) {
        COwnedSample* out = COwnedSample::Create(frame.data);
        // The sample's own times follow the decoding order, in which the samples leave, so a
        // downstream filter that orders its inputs by start time never steps back in time.
        // The presentation time travels in IEncoderSampleTimes.
        REFERENCE_TIME start = frame.decodingTime, stop = frame.decodingTime + (frame.stopTime - frame.startTime);
        out->SetTime(&start, &stop);
        out->SetEncoderTimes(frame.startTime, frame.decodingTime);
        out->SetSyncPoint(frame.keyFrame);
        const HRESULT hr = m_pOutput->Deliver(out);
        out->Release();
        if (hr != S_OK) result = hr;
    }
    return result;
}
