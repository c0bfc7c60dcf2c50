// Row functions of the frame conversion: de-interleaving and interleaving of packed pixels and
// the limited-range 8-bit colour matrices. The frame routines only walk rows and call these.
//
// Every operation has a plain reference row function (the *Plain names below) and may have
// SIMD versions in their own files; a SIMD version runs its vectors over the whole groups of a
// row and the reference over the rest, and produces the reference's bytes. The set of row
// functions is chosen once from the processor's features.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Byte positions of Y0, U, Y1 and V in a packed 4:2:2 pixel pair.
struct PackedLayout {
    uint8_t y0, u, y1, v;
};
constexpr PackedLayout kYuy2Layout{0, 1, 2, 3};
constexpr PackedLayout kUyvyLayout{1, 0, 3, 2};
constexpr PackedLayout kYvyuLayout{0, 3, 2, 1};

// The byte positions as compile-time constants, so that the row loops vectorise.
template <int Y0, int U, int Y1, int V>
struct StaticPackedLayout {
    static constexpr int y0 = Y0, u = U, y1 = Y1, v = V;
};
// Calls f with the StaticPackedLayout<...>{} of a run-time layout.
template <typename F>
void VisitPackedLayout(PackedLayout layout, F&& f)
{
    if (layout.u == kUyvyLayout.u)
        f(StaticPackedLayout<1, 0, 3, 2>{});
    else if (layout.v == kYvyuLayout.v)
        f(StaticPackedLayout<0, 3, 2, 1>{});
    else
        f(StaticPackedLayout<0, 1, 2, 3>{});
}

struct ColorRowFunctions {
    const char* name;
    // width luma samples, width / 2 chroma pairs.
    void (*unpackPacked)(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                         uint8_t* u);
    void (*packPacked)(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                       uint8_t* dst);
    // Two packed rows into two luma rows and one 4:2:0 chroma row: each chroma sample is the
    // average of the two rows' samples, rounded down.
    void (*unpackPacked420)(const uint8_t* src0, const uint8_t* src1, PackedLayout layout, uint32_t width,
                            uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
    // Y per pixel, V and U per horizontal pair of pixels; 3 or 4 bytes per pixel (B, G, R, X).
    void (*rgbToYuv)(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u);
    // RGB straight into a packed 4:2:2 row: rgbToYuv then packPacked without the planes between
    // them (an odd last pixel stays unwritten).
    void (*rgbToPacked)(const uint8_t* src, uint32_t bytesPerPixel, PackedLayout layout, uint32_t width,
                        uint8_t* dst);
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

// The SIMD sets and their rows, each set with its own files.
extern const ColorRowFunctions kSsse3ColorRows;
extern const ColorRowFunctions kAvx2ColorRows;
extern const ColorRowFunctions kAvx512ColorRows;  // AVX-512 BW and VBMI
void UnpackPackedRowSsse3(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                          uint8_t* u);
void PackPackedRowSsse3(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                        uint8_t* dst);
void RgbToYuvRowSsse3(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v,
                      uint8_t* u);
void RgbToYuv420RowsSsse3(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                          uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
void AverageRowsSsse3(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst);
void UnpackPacked420RowsAvx2(const uint8_t* src0, const uint8_t* src1, PackedLayout layout, uint32_t width,
                             uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
void RgbToYuvRowAvx2(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u);
void RgbToYuv420RowsAvx2(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                         uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u);
void RgbToPackedRowAvx2(const uint8_t* src, uint32_t bytesPerPixel, PackedLayout layout, uint32_t width,
                        uint8_t* dst);
void YuvToRgbRowAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                     uint32_t bytesPerPixel);
void YuvToRgbRowAvx512(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                       uint32_t bytesPerPixel);

// The AVX2 set with the given RGB row (the AVX-512 set differs from it in that row only).
constexpr ColorRowFunctions Avx2ColorRows(const char* name, decltype(ColorRowFunctions::yuvToRgb) yuvToRgb)
{
    return {name,
            UnpackPackedRowSsse3,
            PackPackedRowSsse3,
            UnpackPacked420RowsAvx2,
            RgbToYuvRowAvx2,
            RgbToPackedRowAvx2,
            RgbToYuv420RowsAvx2,
            yuvToRgb,
            AverageRowsSsse3};
}

// B, G, R (and X for 4-byte pixels) planes; planeCount may be smaller than the pixel size
// (an RGB32 output from three planes keeps its fourth byte unwritten).
void UnpackRgbRow(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* const* planes,
                  uint32_t planeCount);
void PackRgbRow(const uint8_t* const* planes, uint32_t planeCount, uint32_t width, uint8_t* dst,
                uint32_t bytesPerPixel);

// The fused row operations built from a set's simpler rows, a stretch of pixels at a time
// through rows on the stack: the reference for the fused operations, and the sets without
// fused versions of their own.
constexpr uint32_t kComposedStretch = 256;  // even: chroma pairs stay whole

template <auto Unpack, auto Average>
void UnpackPacked420Composed(const uint8_t* src0, const uint8_t* src1, PackedLayout layout, uint32_t width,
                             uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    constexpr uint32_t half = kComposedStretch / 2;
    uint8_t v0[half], u0[half], v1[half], u1[half];
    for (uint32_t at = 0; at < width; at += kComposedStretch) {
        const uint32_t n = width - at < kComposedStretch ? width - at : kComposedStretch;
        Unpack(src0 + 2 * size_t(at), layout, n, y0 + at, v0, u0);
        Unpack(src1 + 2 * size_t(at), layout, n, y1 + at, v1, u1);
        Average(v0, v1, n / 2, v + at / 2);
        Average(u0, u1, n / 2, u + at / 2);
    }
}

template <auto RgbToYuv, auto Pack>
void RgbToPackedComposed(const uint8_t* src, uint32_t bytesPerPixel, PackedLayout layout, uint32_t width,
                         uint8_t* dst)
{
    uint8_t y[kComposedStretch], v[kComposedStretch / 2], u[kComposedStretch / 2];
    for (uint32_t at = 0; at < width; at += kComposedStretch) {
        const uint32_t n = width - at < kComposedStretch ? width - at : kComposedStretch;
        RgbToYuv(src + size_t(at) * bytesPerPixel, bytesPerPixel, n, y, v, u);
        Pack(y, v, u, layout, n, dst + 2 * size_t(at));
    }
}

// The RGB to YUV rows of a SIMD set: whole groups of Step pixels through the set's vector
// bodies for 3- and 4-byte pixels, the rest of the row through the row function of the set
// below it.
template <uint32_t Step, auto Body3, auto Body4, auto Rest>
void RgbToYuvRowBy(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / Step, done = groups * Step;
    (bytesPerPixel == 4 ? Body4 : Body3)(src, groups, y, v, u);
    Rest(src + size_t(done) * bytesPerPixel, bytesPerPixel, width - done, y + done, v + done / 2, u + done / 2);
}

template <uint32_t Step, auto Body3, auto Body4, auto Rest>
void RgbToYuv420RowsBy(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                       uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / Step, done = groups * Step;
    (bytesPerPixel == 4 ? Body4 : Body3)(src0, src1, groups, y0, y1, v, u);
    const size_t skip = size_t(done) * bytesPerPixel;
    Rest(src0 + skip, src1 + skip, bytesPerPixel, width - done, y0 + done, y1 + done, v + done / 2, u + done / 2);
}
