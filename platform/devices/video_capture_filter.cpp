// The video capture filter over any VideoCamera: every format the camera offers, twice (plain
// and version-2 video header), IAMStreamConfig, and the camera's controls for the device page.
#include <vector>

#include "../com/taskmem.h"
#include "capture_filters.h"
#include "capture_media_types.h"
#include "capture_pin.h"

namespace {

constexpr GUID CLSID_VideoCaptureFilter = {0x7c1b3f54, 0x2d4e, 0x4a8b, {0x9e, 0x61, 0x3a, 0x5d, 0x0c, 0x77, 0x12, 0xe4}};
constexpr LONG kVideoBuffers = 4;

CMediaType VideoType(const VideoFormat& format, VideoHeaderKind kind, REFERENCE_TIME interval)
{
    CMediaType mt;
    BuildVideoMediaType(format, kind, interval, &mt);
    return mt;
}

class VideoCapturePin final : public CapturePin {
public:
    VideoCapturePin(HRESULT* phr, CaptureFilter* filter, VideoCamera* camera)
        : CapturePin(phr, filter), camera_(camera), formats_(camera->Formats())
    {
        if (!formats_.empty()) chosen_ = {0, VideoHeaderKind::VideoInfo, formats_[0].MinInterval()};
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        const VideoFormat& f = formats_[chosen_.formatIndex];
        request->cBuffers = std::max(request->cBuffers, kVideoBuffers);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(FrameBytes(f.pixel, f.width, f.height)));
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual;
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
    }

protected:
    int TypeCount() override { return int(formats_.size() * 2); }
    void BuildType(int index, CMediaType* mt) override
    {
        const VideoFormat& f = formats_[size_t(index) / 2];
        *mt = VideoType(f, VideoHeaderKind(index % 2), f.MinInterval());
    }
    int CapsSize() override { return sizeof(VIDEO_STREAM_CONFIG_CAPS); }
    void FillCaps(int index, BYTE* caps) override
    {
        FillVideoCaps(formats_[size_t(index) / 2], reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps));
    }
    bool Normalize(const AM_MEDIA_TYPE& mt, CMediaType* normalized) override
    {
        VideoChoice choice;
        if (!MatchVideoMediaType(formats_, mt, &choice)) return false;
        if (normalized) *normalized = VideoType(formats_[choice.formatIndex], choice.kind, choice.interval);
        return true;
    }
    void Apply(const AM_MEDIA_TYPE& mt) override { MatchVideoMediaType(formats_, mt, &chosen_); }

    bool PacedByDevice() override { return camera_->PacedByDevice(); }
    // Samples last as long as the device's accepted frame interval, which may differ from
    // the one asked for.
    bool StartDevice(std::string* error) override
    {
        interval_ = chosen_.interval;
        return camera_->Start(formats_[chosen_.formatIndex], &interval_, error);
    }
    void StopDevice() override { camera_->Stop(); }
    REFERENCE_TIME SampleDuration() override { return interval_; }
    CaptureResult CaptureSample(IMediaSample* sample, int timeoutMs, REFERENCE_TIME* taken) override
    {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return CaptureResult::Lost;
        size_t length = 0;
        CaptureResult result = camera_->Capture(data, size_t(sample->GetSize()), timeoutMs, &length, taken);
        if (result == CaptureResult::Frame) sample->SetActualDataLength(LONG(length));
        return result;
    }

private:
    VideoCamera* camera_;  // owned by the filter
    std::vector<VideoFormat> formats_;
    VideoChoice chosen_{};
    REFERENCE_TIME interval_ = 0;
};

class VideoCaptureFilter final : public CaptureFilter, public ISpecifyPropertyPages, public IDeviceControls {
public:
    VideoCaptureFilter(std::unique_ptr<VideoCamera> camera, HRESULT* phr)
        : CaptureFilter("Video capture", CLSID_VideoCaptureFilter, phr), camera_(std::move(camera))
    {
        new VideoCapturePin(phr, this, camera_.get());  // registers itself; CSource deletes it
    }
    ~VideoCaptureFilter() override
    {
        for (CSourceStream* pin : std::vector<CSourceStream*>(m_paStreams)) delete pin;
    }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
        if (iid == IID_IDeviceControls) return GetInterface(static_cast<IDeviceControls*>(this), ppv);
        return CaptureFilter::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override
    {
        if (!pages) return E_POINTER;
        pages->cElems = 1;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) return E_OUTOFMEMORY;
        pages->pElems[0] = CLSID_DeviceControlsPage;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetControls(std::vector<DeviceControl>* controls) override
    {
        if (!controls) return E_POINTER;
        *controls = camera_->Controls();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetControl(uint32_t id, int32_t value) override
    {
        for (const DeviceControl& c : camera_->Controls()) {
            if (c.id != id) continue;
            if (value < c.minimum || value > c.maximum) return E_INVALIDARG;
            return camera_->SetControl(id, value) ? S_OK : E_FAIL;
        }
        return E_INVALIDARG;
    }

private:
    std::unique_ptr<VideoCamera> camera_;
};

}  // namespace

HRESULT CreateVideoCaptureFilter(std::unique_ptr<VideoCamera> camera, IBaseFilter** filter)
{
    if (!filter) return E_POINTER;
    *filter = nullptr;
    HRESULT hr = S_OK;
    auto* object = new VideoCaptureFilter(std::move(camera), &hr);
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    return object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter));
}
