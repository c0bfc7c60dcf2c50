#include "encoder_filter.h"

#include "buffers.h"
#include "owned_sample.h"

// Looks at a sample's type before the base pin would hand it to CheckInputType, so that a
// refused change still lets the held-back frames out.
class CEncoderInputPin : public CTransformInputPin {
public:
    CEncoderInputPin(CEncoderFilter* filter, HRESULT* phr)
        : CTransformInputPin("Encoder input pin", filter, phr, u"XForm In"), filter_(filter)
    {
    }

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        AM_MEDIA_TYPE* type = nullptr;
        if (sample && sample->GetMediaType(&type) == S_OK && type) {
            const bool changed = !(CMediaType(*type) == m_mt);
            DeleteMediaType(type);
            if (changed && CheckStreaming() == S_OK && filter_->EncoderOpen()) {
                m_bRunTimeError = true;
                return filter_->EndOnTypeChange();
            }
        }
        return CTransformInputPin::Receive(sample);
    }

private:
    CEncoderFilter* filter_;
};

CEncoderFilter::CEncoderFilter(const char* name, IUnknown* outer, REFCLSID clsid, const GUID& outputMajor,
                               const GUID& outputSubtype)
    : CTransformFilter(name, outer, clsid), outputMajor_(outputMajor), outputSubtype_(outputSubtype)
{
}

// The core is made for the type of the connection. A different type would re-open it
// mid-stream, losing the frames it holds back, while downstream keeps the old output type
// and sequence header: it is refused while the core is open.
HRESULT CEncoderFilter::CheckInputType(const CMediaType* mt)
{
    if (EncoderOpen() && !(*mt == m_pInput->CurrentMediaType())) return VFW_E_TYPE_NOT_ACCEPTED;
    return AcceptsInput(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CEncoderFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt)
{
    if (dir != PINDIR_INPUT) return S_OK;
    CAutoLock hold(&m_csReceive);
    if (EncoderOpen()) return S_OK;  // the connection's type again, attached to a sample
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

bool CEncoderFilter::CreatePins()
{
    HRESULT hr = S_OK;
    m_pInput = new CEncoderInputPin(this, &hr);
    m_pOutput = new CTransformOutputPin("Transform output pin", this, &hr, u"XForm Out");
    return SUCCEEDED(hr);
}

HRESULT CEncoderFilter::EndOnTypeChange()
{
    {
        CAutoLock hold(&m_csReceive);
        EndOfStream();
    }
    NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
    return VFW_E_INVALIDMEDIATYPE;
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
        out->SetTime(&start, StampsStopTime() ? &stop : nullptr);
        out->SetEncoderTimes(frame.startTime, frame.decodingTime);
        out->SetSyncPoint(frame.keyFrame);
        const HRESULT hr = m_pOutput->Deliver(out);
        out->Release();
        if (hr != S_OK) result = hr;
    }
    return result;
}
