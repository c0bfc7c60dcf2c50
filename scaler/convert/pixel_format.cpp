#include "pixel_format.h"

#include <cstdlib>

#include "dshow/uuids.h"

const FormatInfo& InfoOf(PixelFormat format)
{
    static const FormatInfo kTable[] = {
        {"YUY2", MEDIASUBTYPE_YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 16},
        {"UYVY", MEDIASUBTYPE_UYVY, MakeFourCC('U', 'Y', 'V', 'Y'), 16},
        {"YVYU", MEDIASUBTYPE_YVYU_SCALER, MakeFourCC('Y', 'V', 'Y', 'U'), 16},
        {"YV16", MEDIASUBTYPE_YV16, MakeFourCC('Y', 'V', '1', '6'), 16},
        {"YV12", MEDIASUBTYPE_YV12, MakeFourCC('Y', 'V', '1', '2'), 12},
        {"RGB32", MEDIASUBTYPE_RGB32, BI_RGB, 32},
        {"RGB24", MEDIASUBTYPE_RGB24, BI_RGB, 24},
    };
    return kTable[static_cast<int>(format)];
}

FormatDescriptor DescribeFormat(uint16_t code, bool bottomUp)
{
    FormatDescriptor d;
    d.code = code;
    PixelFormat f = FormatOfCode(code);
    d.planar = f == PixelFormat::YV12 || f == PixelFormat::YV16;
    d.uFirst = f == PixelFormat::UYVY;
    d.vFirst = f == PixelFormat::YVYU;
    d.planeCount = f == PixelFormat::RGB32 ? 4 : 3;
    switch (f) {
    case PixelFormat::YV12: d.kind = kPlanarYuv; d.hShift = 1; d.vShift = 1; break;
    case PixelFormat::YV16: d.kind = kPlanarYuv; d.hShift = 1; break;
    case PixelFormat::RGB32: d.kind = kRgb32; d.bottomUp = bottomUp; break;
    case PixelFormat::RGB24: d.kind = kRgb24; d.bottomUp = bottomUp; break;
    default: d.kind = kPacked422; d.hShift = 1; break;
    }
    return d;
}

std::optional<PixelFormat> FormatOfSubtype(const GUID& subtype)
{
    for (int i = 0; i < 7; ++i)
        if (InfoOf(PixelFormat(i)).subtype == subtype) return PixelFormat(i);
    return std::nullopt;
}

LONG LineStride(PixelFormat format, const BITMAPINFOHEADER& header)
{
    if (format == PixelFormat::YV12 || format == PixelFormat::YV16) return header.biWidth;
    LONG height = std::abs(header.biHeight);
    if (header.biSizeImage != 0 && height != 0 && header.biSizeImage / height != 0)
        return static_cast<LONG>(header.biSizeImage / height);
    return header.biBitCount / 8 * header.biWidth;
}
