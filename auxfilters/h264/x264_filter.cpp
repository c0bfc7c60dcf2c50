// H.264 encoder filter: uncompressed video in, AVC1 with an MPEG2VIDEOINFO sequence header
// out. Settings are read from the registry when the filter is created.
#include <atomic>
#include <cstring>

#include "common/buffers.h"
#include "common/library_entry.h"
#include "common/owned_sample.h"
#include "dshow/transfrm.h"
#include "h264_encoder.h"

namespace {

// A frame that reaches the encoder this much later than its capture time is dropped: the
// encoder is behind the live source and queueing would only grow the delay.
constexpr REFERENCE_TIME kMaxLateness = 5000000;

struct LayoutOfSubtype {
    const GUID* subtype;
    PixelLayout layout;
    int bitsPerPixel;
};
constexpr GUID MEDIASUBTYPE_YVYU = GuidFromFourCC(MakeFourCC('Y', 'V', 'Y', 'U'));
constexpr GUID MEDIASUBTYPE_YV16 = GuidFromFourCC(MakeFourCC('Y', 'V', '1', '6'));
const LayoutOfSubtype kLayouts[] = {
    {&MEDIASUBTYPE_YV12, PixelLayout::YV12, 12},   {&MEDIASUBTYPE_I420, PixelLayout::I420, 12},
    {&MEDIASUBTYPE_IYUV, PixelLayout::I420, 12},   {&MEDIASUBTYPE_NV12, PixelLayout::NV12, 12},
    {&MEDIASUBTYPE_YUY2, PixelLayout::YUY2, 16},   {&MEDIASUBTYPE_YUYV, PixelLayout::YUY2, 16},
    {&MEDIASUBTYPE_UYVY, PixelLayout::UYVY, 16},   {&MEDIASUBTYPE_YVYU, PixelLayout::YVYU, 16},
    {&MEDIASUBTYPE_YV16, PixelLayout::YV16, 16},   {&MEDIASUBTYPE_RGB24, PixelLayout::RGB24, 24},
    {&MEDIASUBTYPE_RGB32, PixelLayout::RGB32, 32},
};

// The input's layout and geometry, or false for a type the encoder cannot take.
bool InputFormatOf(const AM_MEDIA_TYPE& mt, VideoInputFormat* format, int* sarWidth, int* sarHeight)
{
    if (mt.majortype != MEDIATYPE_Video) return false;
    const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(mt);
    if (!bi || bi->biWidth <= 0 || bi->biHeight == 0) return false;
    for (const auto& entry : kLayouts) {
        if (mt.subtype != *entry.subtype) continue;
        const bool rgb = entry.layout == PixelLayout::RGB24 || entry.layout == PixelLayout::RGB32;
        format->layout = entry.layout;
        format->width = bi->biWidth;
        format->height = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
        format->bottomUp = rgb && bi->biHeight > 0;
        // Planar layouts give the luma row; packed ones a DIB row padded to 4 bytes.
        format->stride = entry.bitsPerPixel == 12 || entry.layout == PixelLayout::YV16
                             ? bi->biWidth
                             : static_cast<int>(DIBWIDTHBYTES(BITMAPINFOHEADER{40, bi->biWidth, 1, 1,
                                                                                static_cast<WORD>(entry.bitsPerPixel)}));
        *sarWidth = *sarHeight = 0;
        if (const VIDEOINFOHEADER2* vih2 = GetVideoInfoHeader2(mt)) {
            // Picture aspect ratio -> sample aspect ratio: (arX / width) : (arY / height).
            if (vih2->dwPictAspectRatioX && vih2->dwPictAspectRatioY) {
                *sarWidth = static_cast<int>(vih2->dwPictAspectRatioX * format->height);
                *sarHeight = static_cast<int>(vih2->dwPictAspectRatioY * format->width);
            }
        }
        return format->width % 2 == 0 && format->height % 2 == 0;
    }
    return false;
}

class CX264Encoder : public CTransformFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CX264Encoder(outer); }

    HRESULT CheckInputType(const CMediaType* mt) override
    {
        VideoInputFormat format;
        int sw, sh;
        return InputFormatOf(*mt, &format, &sw, &sh) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override
    {
        if (dir != PINDIR_INPUT) return S_OK;
        VideoInputFormat format;
        int sarWidth, sarHeight;
        if (!InputFormatOf(*mt, &format, &sarWidth, &sarHeight)) return VFW_E_TYPE_NOT_ACCEPTED;
        std::string error;
        auto encoder = H264Encoder::Create(settings_, format, GetAvgTimePerFrame(*mt), sarWidth, sarHeight, &error);
        if (!encoder) return VFW_E_TYPE_NOT_ACCEPTED;
        CAutoLock hold(&m_csReceive);
        encoder_ = std::move(encoder);
        width_ = format.width;
        height_ = format.height;
        return S_OK;
    }

    HRESULT BreakConnect(PIN_DIRECTION dir) override
    {
        if (dir == PINDIR_INPUT) {
            CAutoLock hold(&m_csReceive);
            encoder_.reset();
        }
        return S_OK;
    }

    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (!m_pInput->IsConnected() || !encoder_) return VFW_E_NOT_CONNECTED;
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        const auto& header = encoder_->SequenceHeader();
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Video);
        mt->SetSubtype(&MEDIASUBTYPE_AVC1);
        mt->SetFormatType(&FORMAT_MPEG2Video);
        mt->SetTemporalCompression(TRUE);
        mt->SetVariableSize();
        auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(
            mt->AllocFormatBuffer(SIZE_MPEG2VIDEOINFO(static_cast<ULONG>(header.size()))));
        info->hdr.rcSource = info->hdr.rcTarget = RECT{0, 0, width_, height_};
        info->hdr.AvgTimePerFrame = encoder_->FrameDuration();
        info->hdr.dwBitRate = static_cast<DWORD>(settings_.bitrate) * 1000;
        info->hdr.dwPictAspectRatioX = static_cast<DWORD>(width_);
        info->hdr.dwPictAspectRatioY = static_cast<DWORD>(height_);
        info->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->hdr.bmiHeader.biWidth = width_;
        info->hdr.bmiHeader.biHeight = height_;
        info->hdr.bmiHeader.biPlanes = 1;
        info->hdr.bmiHeader.biCompression = MakeFourCC('A', 'V', 'C', '1');
        info->dwLevel = static_cast<DWORD>(LevelIdcForPosition(settings_.level));
        info->dwFlags = 4;  // NAL units carry 4-byte lengths
        info->cbSequenceHeader = static_cast<DWORD>(header.size());
        std::memcpy(reinterpret_cast<BYTE*>(info->dwSequenceHeader), header.data(), header.size());
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        return out->majortype == MEDIATYPE_Video && out->subtype == MEDIASUBTYPE_AVC1 ? S_OK
                                                                                       : VFW_E_TYPE_NOT_ACCEPTED;
    }

    // Output samples are the encoder's own (COwnedSample); the pin's allocator only serves
    // the connection, so it stays minimal.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return RequestBuffers(allocator, request, 1, 1);
    }

    HRESULT Receive(IMediaSample* sample) override
    {
        if (!encoder_) return VFW_E_NOT_CONNECTED;
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        if (!timed) start = nextTime_;
        nextTime_ = start + encoder_->FrameDuration();
        if (timed && IsLate(start)) {
            ++dropped_;
            return S_OK;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::vector<EncodedVideoFrame> frames;
        if (!encoder_->Encode(data, static_cast<size_t>(sample->GetActualDataLength()), start, &frames))
            return E_FAIL;
        return DeliverFrames(frames);
    }

    HRESULT EndOfStream() override
    {
        if (encoder_) {
            std::vector<EncodedVideoFrame> frames;
            encoder_->Flush(&frames);
            DeliverFrames(frames);
        }
        return CTransformFilter::EndOfStream();
    }

private:
    explicit CX264Encoder(IUnknown* outer)
        : CTransformFilter("x264 Encoder", outer, CLSID_MonogramX264), settings_(ReadX264Settings())
    {
    }

    bool IsLate(REFERENCE_TIME start)
    {
        CRefTime now;
        return StreamTime(now) == S_OK && m_State == State_Running &&
               static_cast<REFERENCE_TIME>(now) - start > kMaxLateness;
    }

    HRESULT DeliverFrames(const std::vector<EncodedVideoFrame>& frames)
    {
        HRESULT result = S_OK;
        for (const auto& frame : frames) {
            COwnedSample* out = COwnedSample::Create(frame.data);
            REFERENCE_TIME start = frame.presentationTime;
            REFERENCE_TIME stop = start + encoder_->FrameDuration();
            out->SetTime(&start, &stop);
            out->SetEncoderTimes(frame.presentationTime, frame.decodingTime);
            out->SetSyncPoint(frame.keyFrame);
            const HRESULT hr = m_pOutput->Deliver(out);
            out->Release();
            if (hr != S_OK) result = hr;
        }
        return result;
    }

    const X264Settings settings_;
    std::unique_ptr<H264Encoder> encoder_;
    LONG width_ = 0;
    LONG height_ = 0;
    REFERENCE_TIME nextTime_ = 0;
    std::atomic<uint64_t> dropped_{0};  // frames that arrived too late to encode
};

const CFactoryTemplate g_Templates[] = {{u"x264 Encoder", &CLSID_MonogramX264, CX264Encoder::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
