#include "filter/output_type.h"

#include <algorithm>
#include <cstdlib>

#include "dshow/uuids.h"

std::vector<uint16_t> ConversionRow(PixelFormat input)
{
    using F = PixelFormat;
    std::vector<F> row;
    switch (input) {
    case F::YUY2: row = {F::YUY2, F::UYVY, F::YVYU, F::YV16, F::YV12, F::RGB32, F::RGB24}; break;
    case F::UYVY: row = {F::UYVY, F::YUY2, F::YVYU, F::YV16, F::YV12, F::RGB32, F::RGB24}; break;
    case F::YVYU: row = {F::YVYU, F::YUY2, F::UYVY, F::YV16, F::YV12, F::RGB32, F::RGB24}; break;
    case F::YV16: row = {F::YV16, F::YUY2, F::UYVY, F::YVYU, F::RGB32, F::RGB24}; break;
    case F::YV12: row = {F::YV12, F::YUY2, F::UYVY, F::YVYU, F::RGB32, F::RGB24}; break;
    case F::RGB32: row = {F::RGB32, F::RGB24, F::YUY2, F::UYVY, F::YVYU, F::YV16, F::YV12}; break;
    case F::RGB24: row = {F::RGB24, F::RGB32, F::YUY2, F::UYVY, F::YVYU, F::YV16, F::YV12}; break;
    }
    std::vector<uint16_t> codes;
    for (F f : row) {
        codes.push_back(CodeOf(f, true));
        if (f != F::YV16 || input == F::YV16) codes.push_back(CodeOf(f, false));
    }
    return codes;
}

uint16_t FormatCodeOf(const AM_MEDIA_TYPE& mt)
{
    const bool vi2 = mt.formattype == FORMAT_VideoInfo2;
    if (!vi2 && mt.formattype != FORMAT_VideoInfo) return kNoFormatCode;
    auto format = FormatOfSubtype(mt.subtype);
    if (!format || !GetBitmapInfoHeader(mt)) return kNoFormatCode;
    return CodeOf(*format, vi2);
}

FrameSize OutputSize(const SCALVO_Config& cfg, FrameSize previous)
{
    if (IsOn(cfg.resizingOn)) return {cfg.resizedWidth, cfg.resizedHeight};
    if (IsOn(cfg.croppingOn)) {
        int32_t cw = int32_t(cfg.sourceWidth) - cfg.cropLeft - cfg.cropRight;
        int32_t ch = int32_t(cfg.sourceHeight) - cfg.cropTop - cfg.cropBottom;
        if (cw < 0 || ch < 0) return previous;
        return {uint32_t(cw), uint32_t(ch)};
    }
    return {cfg.sourceWidth, cfg.sourceHeight};
}

ULONG ImageSize(uint32_t width, uint32_t height, uint32_t bits)
{
    return ULONG(((uint64_t(width) * bits + 31) >> 5) * 4 * height);
}

HRESULT BuildOutputType(uint16_t code, const CMediaType& input, const SCALVO_Config& cfg, FrameSize size,
                        CMediaType* out)
{
    const PixelFormat format = FormatOfCode(code);
    const FormatInfo& info = InfoOf(format);
    const bool vi2 = IsVideoInfo2Code(code);
    const BITMAPINFOHEADER* inHeader = GetBitmapInfoHeader(input);
    const VIDEOINFOHEADER2* inVi2 = GetVideoInfoHeader2(input);
    const auto inFormat = FormatOfSubtype(input.subtype);
    const bool inputRgb = inFormat == PixelFormat::RGB24 || inFormat == PixelFormat::RGB32;
    const bool outputRgb = format == PixelFormat::RGB24 || format == PixelFormat::RGB32;

    out->InitMediaType();
    out->SetType(&MEDIATYPE_Video);
    out->SetSubtype(&info.subtype);
    out->SetFormatType(vi2 ? &FORMAT_VideoInfo2 : &FORMAT_VideoInfo);
    out->SetTemporalCompression(FALSE);
    BYTE* block = out->AllocFormatBuffer(vi2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
    if (!block) return E_OUTOFMEMORY;

    BITMAPINFOHEADER bmi{};
    bmi.biSize = 40;
    bmi.biPlanes = 1;
    bmi.biBitCount = info.bitCount;
    bmi.biCompression = info.compression;
    bmi.biWidth = LONG(size.width);
    bmi.biHeight = LONG(size.height);
    if (outputRgb && inputRgb && inHeader && inHeader->biHeight < 0) bmi.biHeight = -bmi.biHeight;
    bmi.biSizeImage = ImageSize(size.width, size.height, info.bitCount);
    out->SetSampleSize(bmi.biSizeImage);

    const REFERENCE_TIME frameTime = GetAvgTimePerFrame(input);
    const uint32_t divisor = uint32_t(uint64_t(frameTime) & 0xFFFFFFFF);
    // MulDiv's answer for a zero divisor (-1) is no bit rate; say 0 instead.
    const DWORD bitRate = divisor ? DWORD((uint64_t(bmi.biSizeImage) * 80000000 + divisor / 2) / divisor) : 0;
    const RECT rect{0, 0, LONG(size.width), LONG(size.height)};

    if (vi2) {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(block);
        vih->rcSource = vih->rcTarget = rect;
        vih->dwBitRate = bitRate;
        vih->AvgTimePerFrame = frameTime;
        AspectRatio ar = OutputAspect(cfg);
        vih->dwPictAspectRatioX = ar.x;
        vih->dwPictAspectRatioY = ar.y;
        const DWORD inFlags = inVi2 ? inVi2->dwInterlaceFlags : 0;
        const bool sourceInterlaced = IsOn(cfg.sourceInterlace);
        if (ProcessesInterlaced(cfg))
            vih->dwInterlaceFlags = sourceInterlaced ? inFlags : 0x61;
        else
            vih->dwInterlaceFlags = sourceInterlaced ? 0 : inFlags;
        vih->dwCopyProtectFlags = 1;
        vih->bmiHeader = bmi;
    } else {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
        vih->rcSource = vih->rcTarget = rect;
        vih->dwBitRate = bitRate;
        vih->AvgTimePerFrame = frameTime;
        vih->bmiHeader = bmi;
    }
    return S_OK;
}
