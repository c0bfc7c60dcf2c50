// Capture video formats independent of where they come from: a V4L2 camera's capability
// list or the test-pattern camera's fixed table. One VideoFormat is one pixel format at one
// frame size with the frame intervals the source can run it at; the capture pin offers each
// VideoFormat twice, once per video header kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../com/wintypes.h"

enum class PixelFormat { YUY2, UYVY, MJPG, RGB24, RGB32, NV12, I420, YV12 };

struct PixelFormatTraits {
    PixelFormat format;
    uint32_t v4l2;         // the V4L2 fourcc that carries it byte for byte
    DWORD compression;     // BITMAPINFOHEADER biCompression (0 for RGB)
    WORD bitCount;
    bool bottomUp;         // DIB rows run bottom-up (RGB); V4L2 rows always run top-down
    bool compressed;       // frame size varies per frame
};

const PixelFormatTraits& TraitsOf(PixelFormat format);
// The translation for a V4L2 fourcc, or nullptr for formats we do not offer (RGB565, Bayer, ...).
const PixelFormatTraits* TraitsOfV4l2(uint32_t fourcc);

// Bytes of one row in the DIB layout (RGB rows are padded to 4 bytes) and of one frame.
DWORD DibStride(PixelFormat format, LONG width);
DWORD FrameBytes(PixelFormat format, LONG width, LONG height);

// Frame interval in 100-ns units from a V4L2 fraction (seconds = numerator / denominator).
REFERENCE_TIME IntervalFromFraction(uint32_t numerator, uint32_t denominator);

struct VideoFormat {
    PixelFormat pixel;
    LONG width;
    LONG height;
    std::vector<REFERENCE_TIME> intervals;  // ascending; intervals.front() is the default
    // Continuous sources (the pattern camera) run any interval in [front, back].
    bool anyInterval = false;
    // The V4L2 code the device listed for it (several codes carry the same bytes); 0 elsewhere.
    uint32_t deviceCode = 0;

    REFERENCE_TIME MinInterval() const { return intervals.front(); }
    REFERENCE_TIME MaxInterval() const { return intervals.back(); }
    // The supported interval nearest to `wanted` (the default for 0).
    REFERENCE_TIME NearestInterval(REFERENCE_TIME wanted) const;
};

// One entry of a V4L2 device's capability list (VIDIOC_ENUM_FMT, _FRAMESIZES, _FRAMEINTERVALS),
// recorded as plain data so that translation can be tested without a device.
struct V4l2Fraction {
    uint32_t numerator;
    uint32_t denominator;
};
struct V4l2FrameSize {
    uint32_t pixelformat;
    uint32_t width;
    uint32_t height;
    std::vector<V4l2Fraction> intervals;  // in the device's order
};

// The device's capability list -> VideoFormats in the device's order, leaving out pixel
// formats without translation and sizes without any frame interval.
std::vector<VideoFormat> TranslateV4l2Capabilities(const std::vector<V4l2FrameSize>& capabilities);

std::string FourCCText(uint32_t fourcc);
