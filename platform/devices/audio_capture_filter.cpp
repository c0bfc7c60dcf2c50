// The audio capture filter over any Microphone: 16-bit PCM at the microphone's rates and
// channel counts, IAMStreamConfig, and IAMAudioInputMixer's mix level as the input level.
#include <vector>

#include "capture_filters.h"
#include "capture_media_types.h"
#include "capture_pin.h"

namespace {

constexpr GUID CLSID_AudioCaptureFilter = {0x7c1b3f55, 0x2d4e, 0x4a8b, {0x9e, 0x61, 0x3a, 0x5d, 0x0c, 0x77, 0x12, 0xe4}};
constexpr LONG kAudioBuffers = 8;
constexpr DWORD kBuffersPerSecond = 100;

class AudioCapturePin final : public CapturePin, public IAMAudioInputMixer {
public:
    AudioCapturePin(HRESULT* phr, CaptureFilter* filter, Microphone* microphone)
        : CapturePin(phr, filter), microphone_(microphone), formats_(microphone->Formats())
    {
    }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IAMAudioInputMixer) return GetInterface(static_cast<IAMAudioInputMixer*>(this), ppv);
        return CapturePin::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = std::max(request->cBuffers, kAudioBuffers);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(FramesPerBuffer() * BlockAlign()));
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual;
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
    }

    // IAMAudioInputMixer: the mix level is the device's input level; the rest is fixed.
    HRESULT STDMETHODCALLTYPE put_MixLevel(double level) override
    {
        if (!(level >= 0.0 && level <= 1.0)) return E_INVALIDARG;
        return microphone_->SetLevel(level) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_MixLevel(double* level) override
    {
        if (!level) return E_POINTER;
        return microphone_->GetLevel(level) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_Enable(BOOL enable) override { return enable ? S_OK : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Enable(BOOL* enable) override
    {
        if (!enable) return E_POINTER;
        *enable = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Mono(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Mono(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Pan(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Pan(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Loudness(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Loudness(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Treble(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Treble(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TrebleRange(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Bass(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Bass(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_BassRange(double*) override { return E_NOTIMPL; }

protected:
    int TypeCount() override { return int(formats_.size()); }
    void BuildType(int index, CMediaType* mt) override
    {
        CMediaType type;
        BuildAudioMediaType(formats_[size_t(index)], &type);
        *mt = type;
    }
    int CapsSize() override { return sizeof(AUDIO_STREAM_CONFIG_CAPS); }
    void FillCaps(int index, BYTE* caps) override
    {
        FillAudioCaps(formats_[size_t(index)], reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(caps));
    }
    bool Normalize(const AM_MEDIA_TYPE& mt, CMediaType* normalized) override
    {
        size_t index;
        if (!MatchAudioMediaType(formats_, mt, &index)) return false;
        if (normalized) BuildType(int(index), normalized);
        return true;
    }
    void Apply(const AM_MEDIA_TYPE& mt) override { MatchAudioMediaType(formats_, mt, &chosen_); }

    bool PacedByDevice() override { return microphone_->PacedByDevice(); }
    bool StartDevice(std::string* error) override
    {
        return microphone_->Start(formats_[chosen_], FramesPerBuffer(), error);
    }
    void StopDevice() override { microphone_->Stop(); }
    // Whole frames of about 10 ms (11025 Hz has no whole 10 ms).
    REFERENCE_TIME SampleDuration() override
    {
        return REFERENCE_TIME(FramesPerBuffer()) * UNITS / formats_[chosen_].sampleRate;
    }
    CaptureResult CaptureSample(IMediaSample* sample, int timeoutMs, REFERENCE_TIME* taken) override
    {
        BYTE* data = nullptr;
        size_t bytes = FramesPerBuffer() * BlockAlign();
        if (FAILED(sample->GetPointer(&data)) || size_t(sample->GetSize()) < bytes) return CaptureResult::Lost;
        CaptureResult result =
            microphone_->Capture(reinterpret_cast<int16_t*>(data), FramesPerBuffer(), timeoutMs, taken);
        if (result == CaptureResult::Frame) sample->SetActualDataLength(LONG(bytes));
        return result;
    }

private:
    size_t FramesPerBuffer() const { return formats_[chosen_].sampleRate / kBuffersPerSecond; }
    size_t BlockAlign() const { return formats_[chosen_].channels * sizeof(int16_t); }

    Microphone* microphone_;  // owned by the filter
    std::vector<AudioFormat> formats_;
    size_t chosen_ = 0;
};

class AudioCaptureFilter final : public CaptureFilter {
public:
    AudioCaptureFilter(std::unique_ptr<Microphone> microphone, HRESULT* phr)
        : CaptureFilter("Audio capture", CLSID_AudioCaptureFilter, phr), microphone_(std::move(microphone))
    {
        pin_ = new AudioCapturePin(phr, this, microphone_.get());  // registers itself with the filter
    }
    ~AudioCaptureFilter() override { delete pin_; }

    // The mixer is also reachable from the filter, for hosts that ask there.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IAMAudioInputMixer) return pin_->NonDelegatingQueryInterface(iid, ppv);
        return CaptureFilter::NonDelegatingQueryInterface(iid, ppv);
    }

private:
    std::unique_ptr<Microphone> microphone_;
    AudioCapturePin* pin_;
};

}  // namespace

HRESULT CreateAudioCaptureFilter(std::unique_ptr<Microphone> microphone, IBaseFilter** filter)
{
    if (!filter) return E_POINTER;
    *filter = nullptr;
    if (microphone->Formats().empty()) return VFW_E_NO_TYPES;
    HRESULT hr = S_OK;
    auto* object = new AudioCaptureFilter(std::move(microphone), &hr);
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    return object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter));
}
