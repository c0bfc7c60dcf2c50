#include "capture_media_types.h"

#include <algorithm>
#include <cstring>

#include "../com/taskmem.h"
#include "../dshow/mtype.h"

namespace {

template <class Header>
Header* AllocateFormat(AM_MEDIA_TYPE* mt, const GUID& formattype)
{
    mt->formattype = formattype;
    mt->cbFormat = sizeof(Header);
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(Header)));
    memset(mt->pbFormat, 0, sizeof(Header));
    return reinterpret_cast<Header*>(mt->pbFormat);
}

template <class Header>
void FillVideoHeader(Header* h, const VideoFormat& format, REFERENCE_TIME interval, DWORD frameBytes)
{
    const auto& traits = TraitsOf(format.pixel);
    h->rcSource = {0, 0, format.width, format.height};
    h->rcTarget = h->rcSource;
    h->AvgTimePerFrame = interval;
    h->dwBitRate = interval > 0 ? DWORD(uint64_t(frameBytes) * 8 * 10000000 / uint64_t(interval)) : 0;
    h->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    h->bmiHeader.biWidth = format.width;
    h->bmiHeader.biHeight = format.height;
    h->bmiHeader.biPlanes = 1;
    h->bmiHeader.biBitCount = traits.bitCount;
    h->bmiHeader.biCompression = traits.compression;
    h->bmiHeader.biSizeImage = frameBytes;
}

}  // namespace

const GUID& SubtypeOf(PixelFormat format)
{
    switch (format) {
    case PixelFormat::YUY2: return MEDIASUBTYPE_YUY2;
    case PixelFormat::UYVY: return MEDIASUBTYPE_UYVY;
    case PixelFormat::MJPG: return MEDIASUBTYPE_MJPG;
    case PixelFormat::RGB24: return MEDIASUBTYPE_RGB24;
    case PixelFormat::RGB32: return MEDIASUBTYPE_RGB32;
    case PixelFormat::NV12: return MEDIASUBTYPE_NV12;
    case PixelFormat::I420: return MEDIASUBTYPE_I420;
    case PixelFormat::YV12: return MEDIASUBTYPE_YV12;
    }
    return MEDIASUBTYPE_None;
}

void BuildVideoMediaType(const VideoFormat& format, VideoHeaderKind kind, REFERENCE_TIME interval, AM_MEDIA_TYPE* mt)
{
    const auto& traits = TraitsOf(format.pixel);
    DWORD frameBytes = FrameBytes(format.pixel, format.width, format.height);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = SubtypeOf(format.pixel);
    mt->bFixedSizeSamples = !traits.compressed;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = traits.compressed ? 0 : frameBytes;
    mt->pUnk = nullptr;
    if (kind == VideoHeaderKind::VideoInfo) {
        FillVideoHeader(AllocateFormat<VIDEOINFOHEADER>(mt, FORMAT_VideoInfo), format, interval, frameBytes);
    } else {
        auto* h = AllocateFormat<VIDEOINFOHEADER2>(mt, FORMAT_VideoInfo2);
        FillVideoHeader(h, format, interval, frameBytes);
        h->dwPictAspectRatioX = DWORD(format.width);
        h->dwPictAspectRatioY = DWORD(format.height);
    }
}

void BuildAudioMediaType(const AudioFormat& format, AM_MEDIA_TYPE* mt)
{
    WORD blockAlign = WORD(format.channels * sizeof(int16_t));
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = blockAlign;
    mt->pUnk = nullptr;
    auto* wf = AllocateFormat<WAVEFORMATEX>(mt, FORMAT_WaveFormatEx);
    wf->wFormatTag = WAVE_FORMAT_PCM;
    wf->nChannels = format.channels;
    wf->nSamplesPerSec = format.sampleRate;
    wf->nBlockAlign = blockAlign;
    wf->nAvgBytesPerSec = format.sampleRate * blockAlign;
    wf->wBitsPerSample = 16;
    wf->cbSize = 0;
}

void FillVideoCaps(const VideoFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps)
{
    memset(caps, 0, sizeof *caps);
    SIZE size{format.width, format.height};
    caps->guid = MEDIATYPE_Video;
    caps->InputSize = caps->MinCroppingSize = caps->MaxCroppingSize = size;
    caps->MinOutputSize = caps->MaxOutputSize = size;
    caps->CropGranularityX = caps->CropGranularityY = 1;
    caps->CropAlignX = caps->CropAlignY = 1;
    caps->OutputGranularityX = caps->OutputGranularityY = 1;
    caps->MinFrameInterval = format.MinInterval();
    caps->MaxFrameInterval = format.MaxInterval();
    uint64_t bits = uint64_t(FrameBytes(format.pixel, format.width, format.height)) * 8;
    caps->MaxBitsPerSecond = LONG(std::min<uint64_t>(bits * 10000000 / uint64_t(format.MinInterval()), INT32_MAX));
    caps->MinBitsPerSecond = LONG(std::min<uint64_t>(bits * 10000000 / uint64_t(format.MaxInterval()), INT32_MAX));
}

void FillAudioCaps(const AudioFormat& format, AUDIO_STREAM_CONFIG_CAPS* caps)
{
    memset(caps, 0, sizeof *caps);
    caps->guid = MEDIATYPE_Audio;
    caps->MinimumChannels = caps->MaximumChannels = format.channels;
    caps->ChannelsGranularity = 1;
    caps->MinimumBitsPerSample = caps->MaximumBitsPerSample = 16;
    caps->BitsPerSampleGranularity = 16;
    caps->MinimumSampleFrequency = caps->MaximumSampleFrequency = format.sampleRate;
    caps->SampleFrequencyGranularity = 1;
}

bool MatchVideoMediaType(const std::vector<VideoFormat>& formats, const AM_MEDIA_TYPE& mt, VideoChoice* choice)
{
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
    if (mt.majortype != MEDIATYPE_Video || !bmi) return false;
    for (size_t i = 0; i < formats.size(); ++i) {
        const VideoFormat& f = formats[i];
        if (SubtypeOf(f.pixel) == mt.subtype && f.width == bmi->biWidth && f.height == bmi->biHeight) {
            choice->formatIndex = i;
            choice->kind = mt.formattype == FORMAT_VideoInfo ? VideoHeaderKind::VideoInfo : VideoHeaderKind::VideoInfo2;
            choice->interval = f.NearestInterval(GetAvgTimePerFrame(mt));
            return true;
        }
    }
    return false;
}

bool MatchAudioMediaType(const std::vector<AudioFormat>& formats, const AM_MEDIA_TYPE& mt, size_t* formatIndex)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    if (wf->wFormatTag != WAVE_FORMAT_PCM || wf->wBitsPerSample != 16) return false;
    for (size_t i = 0; i < formats.size(); ++i)
        if (formats[i].sampleRate == wf->nSamplesPerSec && formats[i].channels == wf->nChannels) {
            *formatIndex = i;
            return true;
        }
    return false;
}
