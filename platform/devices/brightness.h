// Brightness as a camera applies it: an offset added to each luma sample (YUY2, UYVY) or to
// each colour sample (RGB24, RGB32; alpha untouched), clamped to 0..255.
#pragma once

#include <cstddef>
#include <cstdint>

#include "video_format.h"

void ShiftBrightness(PixelFormat format, uint8_t* frame, size_t bytes, int offset);
