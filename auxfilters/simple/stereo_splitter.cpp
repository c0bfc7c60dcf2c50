// Stereo splitter: 16-bit stereo PCM in; the first output carries the left channel and the
// second the right, each as 16-bit mono PCM with the input's rate and times.
#include <array>
#include <memory>

#include "common/audio_types.h"
#include "common/buffers.h"
#include "common/library_entry.h"
#include "dshow/amfilter.h"

namespace {

class CStereoSplitter;

class CSplitterInput : public CBaseInputPin {
public:
    CSplitterInput(CStereoSplitter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        const WAVEFORMATEX* wfx = Pcm16Format(*mt);
        return wfx && wfx->nChannels == 2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;

private:
    CStereoSplitter* filter_;
    CCritSec receiveLock_;
};

class CSplitterOutput : public CBaseOutputPin {
public:
    CSplitterOutput(CStereoSplitter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    CStereoSplitter* filter_;
};

class CStereoSplitter : public CBaseFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CStereoSplitter(outer); }
    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override
    {
        if (n == 0) return input_.get();
        if (n == 1 || n == 2) return outputs_[n - 1].get();
        return nullptr;
    }

    // The mono type of either output, from the connected input.
    HRESULT MonoType(CMediaType* mt)
    {
        if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
        SetPcm16Type(mt, Pcm16Format(input_->CurrentMediaType())->nSamplesPerSec, 1);
        return S_OK;
    }

    HRESULT Split(IMediaSample* in)
    {
        BYTE* src = nullptr;
        in->GetPointer(&src);
        const LONG frames = in->GetActualDataLength() / 4;
        const auto* stereo = reinterpret_cast<const int16_t*>(src);
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT timed = in->GetTime(&start, &stop);
        for (int channel = 0; channel < 2; ++channel) {
            CSplitterOutput* out = outputs_[channel].get();
            if (!out->IsConnected()) continue;
            IMediaSample* sample = nullptr;
            if (FAILED(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) continue;
            BYTE* dst = nullptr;
            sample->GetPointer(&dst);
            const LONG count = std::min<LONG>(frames, sample->GetSize() / 2);
            auto* mono = reinterpret_cast<int16_t*>(dst);
            for (LONG i = 0; i < count; ++i) mono[i] = stereo[2 * i + channel];
            sample->SetActualDataLength(count * 2);
            if (SUCCEEDED(timed)) sample->SetTime(&start, &stop);
            sample->SetSyncPoint(in->IsSyncPoint() == S_OK);
            sample->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
            out->Deliver(sample);
            sample->Release();
        }
        return S_OK;
    }

    void EndOfStream()
    {
        for (auto& out : outputs_)
            if (out->IsConnected()) out->DeliverEndOfStream();
    }

    LONG InputBufferSize()
    {
        ALLOCATOR_PROPERTIES props{};
        IMemAllocator* allocator = nullptr;
        if (SUCCEEDED(input_->GetAllocator(&allocator)) && allocator) {
            allocator->GetProperties(&props);
            allocator->Release();
        }
        return props.cbBuffer;
    }

private:
    explicit CStereoSplitter(IUnknown* outer) : CBaseFilter("STEREO SPLITTER", outer, &lock_, CLSID_KeshStereoSplitter)
    {
        HRESULT hr = S_OK;
        input_ = std::make_unique<CSplitterInput>(this, &lock_, &hr);
        outputs_[0] = std::make_unique<CSplitterOutput>(this, &lock_, &hr, u"Left");
        outputs_[1] = std::make_unique<CSplitterOutput>(this, &lock_, &hr, u"Right");
    }
    CCritSec lock_;
    std::unique_ptr<CSplitterInput> input_;
    std::array<std::unique_ptr<CSplitterOutput>, 2> outputs_;
};

CSplitterInput::CSplitterInput(CStereoSplitter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("splitter input", filter, lock, phr, u"Input"), filter_(filter)
{
}

HRESULT CSplitterInput::Receive(IMediaSample* sample)
{
    CAutoLock hold(&receiveLock_);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return filter_->Split(sample);
}

HRESULT CSplitterInput::EndOfStream()
{
    CAutoLock hold(&receiveLock_);
    filter_->EndOfStream();
    return S_OK;
}

CSplitterOutput::CSplitterOutput(CStereoSplitter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin("splitter output", filter, lock, phr, name), filter_(filter)
{
}

HRESULT CSplitterOutput::CheckMediaType(const CMediaType* mt)
{
    CMediaType mono;
    if (FAILED(filter_->MonoType(&mono))) return VFW_E_NOT_CONNECTED;
    return *mt == mono ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CSplitterOutput::GetMediaType(int position, CMediaType* mt)
{
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return filter_->MonoType(mt);
}

HRESULT CSplitterOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    // Half of a stereo buffer; a second of 48 kHz when upstream did not say.
    const LONG upstream = filter_->InputBufferSize();
    return RequestBuffers(allocator, request, 4, upstream > 0 ? upstream / 2 : 96000);
}

const CFactoryTemplate g_Templates[] = {
    {u"STEREO SPLITTER", &CLSID_KeshStereoSplitter, CStereoSplitter::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
