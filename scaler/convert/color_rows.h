// Row functions of the frame conversion: de-interleaving and interleaving of packed pixels and
// the limited-range 8-bit colour matrices. The frame routines only walk rows and call these.
//
// Every operation has a plain reference row function (the *Plain names below) and may have
// SIMD versions in their own files; a SIMD version runs its vectors over the whole groups of a
// row and the reference over the rest, and produces the reference's bytes. The set of row
// functions is chosen once from the processor's features.
#pragma once

#include <cstdint>
#include <vector>

// Byte positions of Y0, U, Y1 and V in a packed 4:2:2 pixel pair.
struct PackedLayout {
    uint8_t y0, u, y1, v;
};
constexpr PackedLayout kYuy2Layout{0, 1, 2, 3};
constexpr PackedLayout kUyvyLayout{1, 0, 3, 2};
constexpr PackedLayout kYvyuLayout{0, 3, 2, 1};

struct ColorRowFunctions {
    const char* name;
    // width luma samples, width / 2 chroma pairs.
    void (*unpackPacked)(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                         uint8_t* u);
    void (*packPacked)(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                       uint8_t* dst);
    // Y per pixel, V and U per horizontal pair of pixels; 3 or 4 bytes per pixel (B, G, R, X).
    void (*rgbToYuv)(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u);
    // Y per pixel of both rows, V and U per 2 x 2 block.
    void (*rgbToYuv420)(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                        uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
    // One chroma pair serves two horizontal pixels; an odd last pixel stays unwritten, and so
    // does the fourth byte of 4-byte pixels.
    void (*yuvToRgb)(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                     uint32_t bytesPerPixel);
    // dst[i] = (a[i] + b[i]) >> 1.
    void (*averageRows)(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst);
};

// The functions this processor runs best, chosen at the first call (not by an ifunc resolver,
// which would run before a sanitizer is ready).
const ColorRowFunctions& ColorRows();
// Every set this processor can run, the plain reference first (the tests compare them).
std::vector<const ColorRowFunctions*> SupportedColorRows();

// The reference row functions.
void UnpackPackedRowPlain(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                          uint8_t* u);
void PackPackedRowPlain(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                        uint8_t* dst);
void RgbToYuvRowPlain(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v,
                      uint8_t* u);
void RgbToYuv420RowsPlain(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                          uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
void YuvToRgbRowPlain(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                      uint32_t bytesPerPixel);
void AverageRowsPlain(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst);

// The SIMD sets, each defined in its own file, and the SSSE3 rows the AVX2 set shares.
extern const ColorRowFunctions kSsse3ColorRows;
extern const ColorRowFunctions kAvx2ColorRows;
void UnpackPackedRowSsse3(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                          uint8_t* u);
void PackPackedRowSsse3(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                        uint8_t* dst);
void RgbToYuvRowSsse3(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v,
                      uint8_t* u);
void RgbToYuv420RowsSsse3(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                          uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
void AverageRowsSsse3(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst);

// B, G, R (and X for 4-byte pixels) planes; planeCount may be smaller than the pixel size
// (an RGB32 output from three planes keeps its fourth byte unwritten).
void UnpackRgbRow(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* const* planes,
                  uint32_t planeCount);
void PackRgbRow(const uint8_t* const* planes, uint32_t planeCount, uint32_t width, uint8_t* dst,
                uint32_t bytesPerPixel);
