// H.264 encoder filter: uncompressed video in, AVC1 with an MPEG2VIDEOINFO sequence header
// out. Settings are read from the registry when the filter is created.
#include <atomic>
#include <cstring>

#include "common/encoder_filter.h"
#include "common/library_entry.h"
#include "dropped_frames.h"
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
// Pixels stay square: the picture aspect a VIDEOINFOHEADER2 declares is the host's fixed 16:9
// setting whatever the frame size, and written as the sample aspect it would stretch every
// 4:3 picture at the viewers'.
bool InputFormatOf(const AM_MEDIA_TYPE& mt, VideoInputFormat* format)
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
        return format->width % 2 == 0 && format->height % 2 == 0;
    }
    return false;
}

class CX264Encoder : public CEncoderFilter, public IDroppedFrames {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CX264Encoder(outer); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IDroppedFrames) return GetInterface(static_cast<IDroppedFrames*>(this), ppv);
        return CEncoderFilter::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE GetDroppedFrames(ULONGLONG* count) override
    {
        if (!count) return E_POINTER;
        *count = dropped_;
        return S_OK;
    }

    HRESULT StartStreaming() override
    {
        dropped_ = 0;
        return S_OK;
    }

private:
    explicit CX264Encoder(IUnknown* outer)
        : CEncoderFilter("x264 Encoder", outer, CLSID_MonogramX264, MEDIATYPE_Video, MEDIASUBTYPE_AVC1),
          settings_(ReadX264Settings())
    {
    }

    bool AcceptsInput(const CMediaType& mt) override
    {
        VideoInputFormat format;
        return InputFormatOf(mt, &format);
    }

    bool OpenEncoder(const CMediaType& mt) override
    {
        VideoInputFormat format;
        if (!InputFormatOf(mt, &format)) return false;
        encoder_ = H264Encoder::Create(settings_, format, GetAvgTimePerFrame(mt), nullptr);
        width_ = format.width;
        height_ = format.height;
        return encoder_ != nullptr;
    }

    void CloseEncoder() override { encoder_.reset(); }
    bool EncoderOpen() const override { return encoder_ != nullptr; }
    REFERENCE_TIME InputDuration(size_t) const override { return encoder_->FrameDuration(); }

    void FillOutputType(CMediaType* mt) override
    {
        const auto& header = encoder_->SequenceHeader();
        mt->SetFormatType(&FORMAT_MPEG2Video);
        mt->SetTemporalCompression(TRUE);
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
    }

    // Encoding is synchronous on the upstream thread, so a slow encoder holds the source
    // back; the frames that then arrive late are dropped until the encoder has caught up,
    // which keeps the delay of the stream bounded.
    bool Encode(const BYTE* data, size_t size, REFERENCE_TIME start, bool timed,
                std::vector<EncodedFrame>* out) override
    {
        if (timed && IsLate(start)) {
            ++dropped_;
            return true;
        }
        return encoder_->Encode(data, size, start, out);
    }

    void Flush(std::vector<EncodedFrame>* out) override { encoder_->Flush(out); }

    bool IsLate(REFERENCE_TIME start)
    {
        CRefTime now;
        return m_State == State_Running && StreamTime(now) == S_OK &&
               static_cast<REFERENCE_TIME>(now) - start > kMaxLateness;
    }

    const X264Settings settings_;
    std::unique_ptr<H264Encoder> encoder_;
    LONG width_ = 0;
    LONG height_ = 0;
    std::atomic<uint64_t> dropped_{0};  // written by the streaming thread, read by anyone
};

const CFactoryTemplate g_Templates[] = {{u"x264 Encoder", &CLSID_MonogramX264, CX264Encoder::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
