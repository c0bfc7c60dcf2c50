#include "color_rows.h"

#include <algorithm>

namespace {

inline uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
inline uint8_t LumaOf(int32_t r, int32_t g, int32_t b) { return uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }

}  // namespace

template <int Y0, int U, int Y1, int V>
void UnpackPacked(const uint8_t* __restrict src, uint32_t width,
                                                                    uint8_t* __restrict y, uint8_t* __restrict v,
                                                                    uint8_t* __restrict u)
{
    const uint32_t pairs = width / 2;
    for (uint32_t i = 0; i < pairs; ++i) {
        y[2 * i] = src[4 * i + Y0];
        y[2 * i + 1] = src[4 * i + Y1];
        u[i] = src[4 * i + U];
        v[i] = src[4 * i + V];
    }
    if (width & 1) y[width - 1] = src[4 * pairs + Y0];
}

template <int Y0, int U, int Y1, int V>
void PackPacked(const uint8_t* __restrict y,
                                                                  const uint8_t* __restrict v,
                                                                  const uint8_t* __restrict u, uint32_t width,
                                                                  uint8_t* __restrict dst)
{
    const uint32_t pairs = width / 2;
    for (uint32_t i = 0; i < pairs; ++i) {
        dst[4 * i + Y0] = y[2 * i];
        dst[4 * i + Y1] = y[2 * i + 1];
        dst[4 * i + U] = u[i];
        dst[4 * i + V] = v[i];
    }
}

void UnpackPackedRowPlain(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                          uint8_t* u)
{
    VisitPackedLayout(layout, [&](auto L) { UnpackPacked<L.y0, L.u, L.y1, L.v>(src, width, y, v, u); });
}

void PackPackedRowPlain(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                        uint8_t* dst)
{
    VisitPackedLayout(layout, [&](auto L) { PackPacked<L.y0, L.u, L.y1, L.v>(y, v, u, width, dst); });
}

void UnpackRgbRow(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* const* planes,
                  uint32_t planeCount)
{
    for (uint32_t p = 0; p < planeCount; ++p) {
        uint8_t* plane = planes[p];
        for (uint32_t i = 0; i < width; ++i) plane[i] = src[i * bytesPerPixel + p];
    }
}

void PackRgbRow(const uint8_t* const* planes, uint32_t planeCount, uint32_t width, uint8_t* dst,
                uint32_t bytesPerPixel)
{
    const uint32_t count = std::min(planeCount, bytesPerPixel);
    for (uint32_t p = 0; p < count; ++p) {
        const uint8_t* plane = planes[p];
        for (uint32_t i = 0; i < width; ++i) dst[i * bytesPerPixel + p] = plane[i];
    }
}

template <uint32_t bytesPerPixel>
void RgbToYuv(const uint8_t* __restrict src, uint32_t width,
                                                                uint8_t* __restrict y, uint8_t* __restrict v,
                                                                uint8_t* __restrict u)
{
    for (uint32_t i = 0; i < width; ++i) {
        const uint8_t* px = src + i * bytesPerPixel;
        y[i] = LumaOf(px[2], px[1], px[0]);
    }
    for (uint32_t i = 0; i < width / 2; ++i) {
        const uint8_t* p0 = src + 2 * i * bytesPerPixel;
        const uint8_t* p1 = p0 + bytesPerPixel;
        int32_t bs = p0[0] + p1[0], gs = p0[1] + p1[1], rs = p0[2] + p1[2];
        v[i] = uint8_t((56 * rs - 47 * gs - 9 * bs + 32896) >> 8);
        u[i] = uint8_t((-19 * rs - 37 * gs + 56 * bs + 32896) >> 8);
    }
}

template <uint32_t bytesPerPixel>
void RgbToYuv420(const uint8_t* __restrict src0,
                                                                   const uint8_t* __restrict src1, uint32_t width,
                                                                   uint8_t* __restrict y0, uint8_t* __restrict y1,
                                                                   uint8_t* __restrict v, uint8_t* __restrict u)
{
    for (uint32_t i = 0; i < width; ++i) {
        const uint8_t* a = src0 + i * bytesPerPixel;
        const uint8_t* b = src1 + i * bytesPerPixel;
        y0[i] = LumaOf(a[2], a[1], a[0]);
        y1[i] = LumaOf(b[2], b[1], b[0]);
    }
    for (uint32_t i = 0; i < width / 2; ++i) {
        const uint8_t* a = src0 + 2 * i * bytesPerPixel;
        const uint8_t* b = src1 + 2 * i * bytesPerPixel;
        const uint32_t n = bytesPerPixel;
        int32_t bs = a[0] + a[n] + b[0] + b[n];
        int32_t gs = a[1] + a[n + 1] + b[1] + b[n + 1];
        int32_t rs = a[2] + a[n + 2] + b[2] + b[n + 2];
        v[i] = uint8_t((56 * rs - 47 * gs - 9 * bs + 65792) >> 9);
        u[i] = uint8_t((-19 * rs - 37 * gs + 56 * bs + 65792) >> 9);
    }
}

template <uint32_t bytesPerPixel>
void YuvToRgb(const uint8_t* __restrict y,
                                                                const uint8_t* __restrict v,
                                                                const uint8_t* __restrict u, uint32_t width,
                                                                uint8_t* __restrict dst)
{
    // An odd last pixel has no chroma pair and stays unwritten.
    for (uint32_t i = 0; i < width / 2; ++i) {
        const int32_t d = u[i] - 128, e = v[i] - 128;
        for (uint32_t k = 0; k < 2; ++k) {
            const int32_t c = 298 * (y[2 * i + k] - 16);
            uint8_t* px = dst + (2 * i + k) * bytesPerPixel;
            px[0] = Clamp8((c + 516 * d + 128) >> 8);
            px[1] = Clamp8((c - 100 * d - 208 * e + 128) >> 8);
            px[2] = Clamp8((c + 409 * e + 128) >> 8);
        }
    }
}

void AverageRowsPlain(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst)
{
    for (uint32_t i = 0; i < count; ++i) dst[i] = uint8_t((a[i] + b[i]) >> 1);
}

void RgbToYuvRowPlain(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    bytesPerPixel == 4 ? RgbToYuv<4>(src, width, y, v, u) : RgbToYuv<3>(src, width, y, v, u);
}

void RgbToYuv420RowsPlain(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                          uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    bytesPerPixel == 4 ? RgbToYuv420<4>(src0, src1, width, y0, y1, v, u)
                       : RgbToYuv420<3>(src0, src1, width, y0, y1, v, u);
}

void YuvToRgbRowPlain(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                      uint32_t bytesPerPixel)
{
    bytesPerPixel == 4 ? YuvToRgb<4>(y, v, u, width, dst) : YuvToRgb<3>(y, v, u, width, dst);
}

namespace {

const ColorRowFunctions kPlainColorRows{"plain",
                                        UnpackPackedRowPlain,
                                        PackPackedRowPlain,
                                        UnpackPacked420Composed<UnpackPackedRowPlain, AverageRowsPlain>,
                                        RgbToYuvRowPlain,
                                        RgbToPackedComposed<RgbToYuvRowPlain, PackPackedRowPlain>,
                                        RgbToYuv420RowsPlain,
                                        YuvToRgbRowPlain,
                                        AverageRowsPlain};

}  // namespace

std::vector<const ColorRowFunctions*> SupportedColorRows()
{
    std::vector<const ColorRowFunctions*> sets{&kPlainColorRows};
    if (__builtin_cpu_supports("ssse3")) sets.push_back(&kSsse3ColorRows);
    if (__builtin_cpu_supports("avx2")) sets.push_back(&kAvx2ColorRows);
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi"))
        sets.push_back(&kAvx512ColorRows);
    return sets;
}

const ColorRowFunctions& ColorRows()
{
    static const ColorRowFunctions* const best = SupportedColorRows().back();
    return *best;
}
