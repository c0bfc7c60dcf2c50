// MJPEG decompressor: decodes MJPG frames with libavcodec into YUY2, RGB32 or RGB24, so that
// cameras that deliver MJPG connect to consumers of uncompressed video.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <vector>

#include "../dshow/transfrm.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"

namespace {

struct OutputFormat {
    const GUID* subtype;
    WORD bitCount;
    AVPixelFormat format;
};
constexpr OutputFormat kOutputs[] = {
    {&MEDIASUBTYPE_YUY2, 16, AV_PIX_FMT_YUYV422},
    {&MEDIASUBTYPE_RGB32, 32, AV_PIX_FMT_BGR0},
    {&MEDIASUBTYPE_RGB24, 24, AV_PIX_FMT_BGR24},
};

const OutputFormat* OutputOf(const GUID& subtype)
{
    for (const OutputFormat& output : kOutputs)
        if (*output.subtype == subtype) return &output;
    return nullptr;
}

class CMjpegDecompressor : public CTransformFilter {
public:
    CMjpegDecompressor(IUnknown* outer, HRESULT*) : CTransformFilter("MJPEG Decompressor", outer, CLSID_MjpegDec) {}
    ~CMjpegDecompressor() override { FreeDecoder(); }

    HRESULT CheckInputType(const CMediaType* mt) override
    {
        if (mt->majortype != MEDIATYPE_Video || mt->subtype != MEDIASUBTYPE_MJPG) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(*mt);
        if (!bi || bi->biWidth <= 0 || bi->biWidth > 16384 || bi->biHeight == 0 || bi->biHeight > 16384 ||
            bi->biHeight < -16384)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        if (CheckInputType(in) != S_OK || out->majortype != MEDIATYPE_Video || !OutputOf(out->subtype))
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* from = GetBitmapInfoHeader(*in);
        const BITMAPINFOHEADER* to = GetBitmapInfoHeader(*out);
        if (!to || to->biWidth != from->biWidth || std::abs(to->biHeight) != std::abs(from->biHeight))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position < 0) return E_INVALIDARG;
        if (position >= int(std::size(kOutputs))) return VFW_S_NO_MORE_ITEMS;
        const CMediaType& input = m_pInput->CurrentMediaType();
        const BITMAPINFOHEADER* from = GetBitmapInfoHeader(input);
        const OutputFormat& output = kOutputs[position];
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!vih) return E_OUTOFMEMORY;
        vih->AvgTimePerFrame = GetAvgTimePerFrame(input);
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = from->biWidth;
        vih->bmiHeader.biHeight = std::abs(from->biHeight);
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = output.bitCount;
        vih->bmiHeader.biCompression = output.format == AV_PIX_FMT_YUYV422 ? MakeFourCC('Y', 'U', 'Y', '2') : BI_RGB;
        vih->bmiHeader.biSizeImage = GetBitmapFrameSize(vih->bmiHeader);
        mt->SetType(&MEDIATYPE_Video);
        mt->SetSubtype(output.subtype);
        mt->SetFormatType(&FORMAT_VideoInfo);
        mt->SetSampleSize(vih->bmiHeader.biSizeImage);
        mt->SetTemporalCompression(FALSE);
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(m_pOutput->CurrentMediaType());
        ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 2), LONG(GetBitmapFrameSize(*bi)),
                                    std::max<LONG>(request->cbAlign, 1), request->cbPrefix};
        ALLOCATOR_PROPERTIES actual;
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec) return VFW_E_NO_DECOMPRESSOR;
        context_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!context_ || !frame_ || !packet_ || avcodec_open2(context_, codec, nullptr) < 0) {
            FreeDecoder();
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT StopStreaming() override
    {
        FreeDecoder();
        return S_OK;
    }

    HRESULT Transform(IMediaSample* in, IMediaSample* out) override
    {
        BYTE* data = nullptr;
        in->GetPointer(&data);
        LONG length = in->GetActualDataLength();
        // The decoder reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the data: unless
        // the sample has that much room behind it, decode from a padded copy.
        if (length <= 0) return S_FALSE;
        if (in->GetSize() - length < AV_INPUT_BUFFER_PADDING_SIZE) {
            padded_.assign(data, data + length);
            padded_.resize(size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            data = padded_.data();
        }
        packet_->data = data;
        packet_->size = length;
        if (avcodec_send_packet(context_, packet_) < 0) return S_FALSE;  // a broken frame is dropped
        if (avcodec_receive_frame(context_, frame_) < 0) return S_FALSE;

        const CMediaType& type = m_pOutput->CurrentMediaType();
        const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(type);
        const OutputFormat* output = OutputOf(type.subtype);
        int width = bi->biWidth, height = std::abs(bi->biHeight);
        if (frame_->width != width || frame_->height != height) {
            av_frame_unref(frame_);
            return S_FALSE;
        }
        scaler_ = sws_getCachedContext(scaler_, width, height, AVPixelFormat(frame_->format), width, height,
                                       output->format, SWS_POINT, nullptr, nullptr, nullptr);
        BYTE* target = nullptr;
        out->GetPointer(&target);
        LONG size = LONG(GetBitmapFrameSize(*bi));
        if (!scaler_ || out->GetSize() < size) {
            av_frame_unref(frame_);
            return E_FAIL;
        }
        int stride = int(DIBWIDTHBYTES(*bi));
        uint8_t* planes[4] = {target};
        int strides[4] = {stride};
        // RGB frames are stored bottom-up unless the height is negative.
        if (output->format != AV_PIX_FMT_YUYV422 && bi->biHeight > 0) {
            planes[0] = target + size_t(stride) * (height - 1);
            strides[0] = -stride;
        }
        sws_scale(scaler_, frame_->data, frame_->linesize, 0, height, planes, strides);
        av_frame_unref(frame_);
        out->SetActualDataLength(size);
        out->SetSyncPoint(TRUE);
        return S_OK;
    }

private:
    void FreeDecoder()
    {
        avcodec_free_context(&context_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        sws_freeContext(scaler_);
        scaler_ = nullptr;
    }

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<BYTE> padded_;
};

}  // namespace

CUnknown* CreateMjpegDecompressor(IUnknown* outer, HRESULT* phr) { return new CMjpegDecompressor(outer, phr); }
