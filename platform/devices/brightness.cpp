#include "brightness.h"

#include <algorithm>
#include <array>

void ShiftBrightness(PixelFormat format, uint8_t* frame, size_t bytes, int offset)
{
    if (offset == 0) return;
    std::array<uint8_t, 256> shifted;
    for (int v = 0; v < 256; ++v) shifted[size_t(v)] = uint8_t(std::clamp(v + offset, 0, 255));
    // Which bytes of each group of `period` carry a sample to shift.
    size_t period = 1, first = 0, count = 1;
    switch (format) {
    case PixelFormat::YUY2: period = 2; break;
    case PixelFormat::UYVY: period = 2, first = 1; break;
    case PixelFormat::RGB32: period = 4, count = 3; break;
    case PixelFormat::RGB24: break;
    default: return;  // planar and compressed frames are not produced by the pattern camera
    }
    for (size_t group = 0; group + period <= bytes; group += period)
        for (size_t i = first; i < first + count; ++i) frame[group + i] = shifted[frame[group + i]];
}
