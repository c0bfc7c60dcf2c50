#include "raw_frames.h"

#include <algorithm>
#include <cstring>

#include "convert/frame_io.h"
#include "dshow/mtype.h"

CMediaType RawMediaType(const RawFormat& f, REFERENCE_TIME frameTime)
{
    const FormatInfo& info = InfoOf(f.format);
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&info.subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetSampleSize(RawFrameBytes(f));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = frameTime;
    vih->rcSource = vih->rcTarget = RECT{0, 0, LONG(f.width), LONG(f.height)};
    vih->bmiHeader.biSize = 40;
    vih->bmiHeader.biWidth = LONG(f.width);
    const bool rgb = f.format == PixelFormat::RGB24 || f.format == PixelFormat::RGB32;
    vih->bmiHeader.biHeight = rgb ? -LONG(f.height) : LONG(f.height);
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = info.bitCount;
    vih->bmiHeader.biCompression = info.compression;
    vih->bmiHeader.biSizeImage = RawFrameBytes(f);
    return mt;
}

ULONG RawFrameBytes(const RawFormat& f)
{
    const FormatDescriptor d = DescribeFormat(CodeOf(f.format, false), false);
    const int64_t stride = d.planar ? f.width : int64_t(f.width) * InfoOf(f.format).bitCount / 8;
    return ULONG(PictureBytes(d, stride, f.height));
}

// ---- source

class CRawFrameSource::Stream : public CSourceStream {
public:
    Stream(CRawFrameSource* filter, const RawFormat& format, FILE* input, uint64_t frames, std::vector<uint8_t> repeat)
        : CSourceStream("Raw frames", &hr_, filter, u"Out"), format_(format), input_(input), frames_(frames),
          repeat_(std::move(repeat))
    {
    }

    HRESULT GetMediaType(CMediaType* mt) override
    {
        *mt = RawMediaType(format_, kFrameTime);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = std::max<LONG>(request->cBuffers, 2);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(RawFrameBytes(format_)));
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= request->cbBuffer ? S_OK : E_FAIL;
    }
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (frames_ && sent_ == frames_) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t bytes = RawFrameBytes(format_);
        if (!repeat_.empty()) {
            // The allocator hands its few buffers round; each is filled the first time only, so
            // that a measurement sees the filter and not this copy.
            if (std::find(filled_.begin(), filled_.end(), data) == filled_.end()) {
                std::memcpy(data, repeat_.data(), bytes);
                filled_.push_back(data);
            }
        } else if (std::fread(data, 1, bytes, input_) != bytes) {
            return S_FALSE;
        }
        sample->SetActualDataLength(LONG(bytes));
        REFERENCE_TIME start = REFERENCE_TIME(sent_) * kFrameTime, stop = start + kFrameTime;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        ++sent_;
        return S_OK;
    }

private:
    static constexpr REFERENCE_TIME kFrameTime = 400000;  // 25 frames per second
    HRESULT hr_ = S_OK;
    RawFormat format_;
    FILE* input_;
    uint64_t frames_;
    uint64_t sent_ = 0;
    std::vector<uint8_t> repeat_;
    std::vector<BYTE*> filled_;
};

CRawFrameSource::CRawFrameSource(const RawFormat& format, FILE* input, uint64_t frames, std::vector<uint8_t> repeatFrame)
    : CSource("Raw frame source", nullptr, GUID_NULL),
      stream_(new Stream(this, format, input, frames, std::move(repeatFrame)))
{
}

CRawFrameSource::~CRawFrameSource() = default;  // CSource deletes its pins

// ---- sink

class CRawFrameSink::Pin : public CBaseInputPin {
public:
    Pin(CRawFrameSink* filter, CCritSec* lock, const RawFormat& format, FILE* output)
        : CBaseInputPin("Raw frame sink", filter, lock, &hr_, u"In"), sink_(filter), format_(format), output_(output)
    {
    }

    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(*mt);
        if (mt->majortype != MEDIATYPE_Video || mt->subtype != InfoOf(format_.format).subtype || !bmi)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (uint32_t(bmi->biWidth) != format_.width || uint32_t(std::abs(bmi->biHeight)) != format_.height)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = RawMediaType(format_, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        if (output_) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const size_t bytes = std::min<size_t>(size_t(sample->GetActualDataLength()), RawFrameBytes(format_));
            if (std::fwrite(data, 1, bytes, output_) != bytes) return E_FAIL;
        }
        ++received_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        if (output_) std::fflush(output_);
        sink_->EndOfStream();
        return S_OK;
    }
    std::atomic<uint64_t> received_{0};

private:
    HRESULT hr_ = S_OK;
    CRawFrameSink* sink_;
    RawFormat format_;
    FILE* output_;
};

CRawFrameSink::CRawFrameSink(const RawFormat& format, FILE* output)
    : CBaseFilter("Raw frame sink", nullptr, &lock_, GUID_NULL), pin_(new Pin(this, &lock_, format, output))
{
}

CRawFrameSink::~CRawFrameSink() { delete pin_; }

CBasePin* CRawFrameSink::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

uint64_t CRawFrameSink::FramesReceived() const { return pin_->received_; }

void CRawFrameSink::EndOfStream()
{
    CAutoLock lock(&lock_);
    if (m_State == State_Running && !endReported_) {
        endReported_ = true;
        NotifyEvent(EC_COMPLETE, S_OK, 0);
    } else {
        endPending_ = true;
    }
}

HRESULT CRawFrameSink::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&lock_);
    HRESULT hr = CBaseFilter::Run(start);
    if (SUCCEEDED(hr) && endPending_ && !endReported_) {
        endReported_ = true;
        NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    return hr;
}

HRESULT CRawFrameSink::Stop()
{
    CAutoLock lock(&lock_);
    endPending_ = endReported_ = false;
    return CBaseFilter::Stop();
}
