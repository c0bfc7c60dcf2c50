#include "video_format.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>

#include "../com/guid.h"

namespace {

constexpr PixelFormatTraits kTraits[] = {
    {PixelFormat::YUY2, V4L2_PIX_FMT_YUYV, MakeFourCC('Y', 'U', 'Y', '2'), 16, false, false},
    {PixelFormat::UYVY, V4L2_PIX_FMT_UYVY, MakeFourCC('U', 'Y', 'V', 'Y'), 16, false, false},
    {PixelFormat::MJPG, V4L2_PIX_FMT_MJPEG, MakeFourCC('M', 'J', 'P', 'G'), 24, false, true},
    {PixelFormat::RGB24, V4L2_PIX_FMT_BGR24, 0, 24, true, false},
    {PixelFormat::RGB32, V4L2_PIX_FMT_XBGR32, 0, 32, true, false},
    {PixelFormat::NV12, V4L2_PIX_FMT_NV12, MakeFourCC('N', 'V', '1', '2'), 12, false, false},
    {PixelFormat::I420, V4L2_PIX_FMT_YUV420, MakeFourCC('I', '4', '2', '0'), 12, false, false},
    {PixelFormat::YV12, V4L2_PIX_FMT_YVU420, MakeFourCC('Y', 'V', '1', '2'), 12, false, false},
};

// Other V4L2 codes with the same bytes as one of the formats above.
struct V4l2Alias {
    uint32_t v4l2;
    PixelFormat format;
};
constexpr V4l2Alias kAliases[] = {
    {V4L2_PIX_FMT_JPEG, PixelFormat::MJPG},
    {V4L2_PIX_FMT_BGR32, PixelFormat::RGB32},
    {V4L2_PIX_FMT_ABGR32, PixelFormat::RGB32},
};

}  // namespace

const PixelFormatTraits& TraitsOf(PixelFormat format) { return kTraits[static_cast<int>(format)]; }

const PixelFormatTraits* TraitsOfV4l2(uint32_t fourcc)
{
    for (const auto& t : kTraits)
        if (t.v4l2 == fourcc) return &t;
    for (const auto& a : kAliases)
        if (a.v4l2 == fourcc) return &TraitsOf(a.format);
    return nullptr;
}

DWORD DibStride(PixelFormat format, LONG width)
{
    const auto& t = TraitsOf(format);
    if (t.bottomUp) return ((DWORD(width) * t.bitCount + 31) / 32) * 4;
    return DWORD(width) * (t.bitCount >= 16 ? t.bitCount / 8 : 1);
}

DWORD FrameBytes(PixelFormat format, LONG width, LONG height)
{
    switch (format) {
    case PixelFormat::NV12:
    case PixelFormat::I420:
    case PixelFormat::YV12:
        return DWORD(width) * DWORD(height) + 2 * (DWORD(width + 1) / 2) * (DWORD(height + 1) / 2);
    case PixelFormat::MJPG:
        // Upper bound for one compressed frame; each sample carries its real length.
        return DWORD(width) * DWORD(height) * 2;
    default:
        return DibStride(format, width) * DWORD(height);
    }
}

REFERENCE_TIME IntervalFromFraction(uint32_t numerator, uint32_t denominator)
{
    if (denominator == 0) return 0;
    return (REFERENCE_TIME(numerator) * 10000000 + denominator / 2) / denominator;
}

REFERENCE_TIME VideoFormat::NearestInterval(REFERENCE_TIME wanted) const
{
    if (wanted <= 0) return intervals.front();
    if (anyInterval) return std::clamp(wanted, MinInterval(), MaxInterval());
    return *std::min_element(intervals.begin(), intervals.end(), [wanted](REFERENCE_TIME a, REFERENCE_TIME b) {
        return std::llabs(a - wanted) < std::llabs(b - wanted);
    });
}

std::vector<VideoFormat> TranslateV4l2Capabilities(const std::vector<V4l2FrameSize>& capabilities)
{
    std::vector<VideoFormat> formats;
    for (const auto& size : capabilities) {
        const PixelFormatTraits* traits = TraitsOfV4l2(size.pixelformat);
        if (!traits || size.width == 0 || size.height == 0) continue;
        VideoFormat format{traits->format, LONG(size.width), LONG(size.height), {}, false, size.pixelformat};
        for (const auto& fraction : size.intervals)
            if (REFERENCE_TIME interval = IntervalFromFraction(fraction.numerator, fraction.denominator))
                format.intervals.push_back(interval);
        if (format.intervals.empty()) continue;
        std::sort(format.intervals.begin(), format.intervals.end());
        format.intervals.erase(std::unique(format.intervals.begin(), format.intervals.end()), format.intervals.end());
        // Aliases (BGR4 and XR24, MJPG and JPEG) may describe the same size twice: keep the first.
        bool seen = std::any_of(formats.begin(), formats.end(), [&](const VideoFormat& f) {
            return f.pixel == format.pixel && f.width == format.width && f.height == format.height;
        });
        if (!seen) formats.push_back(std::move(format));
    }
    return formats;
}

std::string FourCCText(uint32_t fourcc)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[i] = char((fourcc >> (8 * i)) & 0xFF);
    return text;
}
