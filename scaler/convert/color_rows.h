// Row functions of the frame conversion: de-interleaving and interleaving of packed pixels and
// the limited-range 8-bit colour matrices. The frame routines only walk rows and call these.
#pragma once

#include <cstdint>

// Byte positions of Y0, U, Y1 and V in a packed 4:2:2 pixel pair.
struct PackedLayout {
    uint8_t y0, u, y1, v;
};
constexpr PackedLayout kYuy2Layout{0, 1, 2, 3};
constexpr PackedLayout kUyvyLayout{1, 0, 3, 2};
constexpr PackedLayout kYvyuLayout{0, 3, 2, 1};

// width luma samples, width / 2 chroma pairs.
void UnpackPackedRow(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u);
// The SIMD part of UnpackPackedRow: whole groups of 16 pixels; returns the pixels done (0
// without SSSE3).
uint32_t UnpackPackedGroupsSsse3(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                                 uint8_t* u);
void PackPackedRow(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                   uint8_t* dst);

// B, G, R (and X for 4-byte pixels) planes; planeCount may be smaller than the pixel size
// (an RGB32 output from three planes keeps its fourth byte unwritten).
void UnpackRgbRow(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* const* planes,
                  uint32_t planeCount);
void PackRgbRow(const uint8_t* const* planes, uint32_t planeCount, uint32_t width, uint8_t* dst,
                uint32_t bytesPerPixel);

// Y per pixel, V and U per horizontal pair of pixels.
void RgbToYuvRow(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u);
// Y per pixel of both rows, V and U per 2 x 2 block.
void RgbToYuv420Rows(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width, uint8_t* y0,
                     uint8_t* y1, uint8_t* v, uint8_t* u);
// One chroma pair serves two horizontal pixels.
void YuvToRgbRow(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                 uint32_t bytesPerPixel);
// The SIMD part of YuvToRgbRow for 4-byte pixels: whole groups of 8 pixels; returns the
// pixels done (0 without AVX2).
uint32_t YuvToRgb32GroupsAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst);

// dst[i] = (a[i] + b[i]) >> 1.
void AverageRows(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst);
