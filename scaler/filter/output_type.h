// The media types the scaler offers on its output: which formats (the conversion rows), and
// the type for one format code with the size, aspect ratio and interlace flags of the current
// configuration.
#pragma once

#include <vector>

#include "convert/geometry.h"
#include "dshow/mtype.h"

// The codes a format converts to, in offering order (YV16 in other formats' rows: its
// VIDEOINFOHEADER2 code only).
std::vector<uint16_t> ConversionRow(PixelFormat input);

// The format code of a media type the scaler can read, or kNoFormatCode.
uint16_t FormatCodeOf(const AM_MEDIA_TYPE& mt);

struct FrameSize {
    uint32_t width = 0, height = 0;
};
// Resized size, else the cropped size, else the source size; a crop that leaves no picture
// keeps `previous`.
FrameSize OutputSize(const SCALVO_Config& cfg, FrameSize previous);

// E_OUTOFMEMORY when the format block cannot be allocated.
HRESULT BuildOutputType(uint16_t code, const CMediaType& input, const SCALVO_Config& cfg, FrameSize size,
                        CMediaType* out);

// DIB image size: ((width * bits + 31) >> 5) * 4 * |height|.
ULONG ImageSize(uint32_t width, uint32_t height, uint32_t bits);
