// AVX2 row functions: YUV to RGB32, sixteen pixels per step in 16-bit lanes with the
// reference's matrix and rounding; the saturating packs clamp to 0..255 as the reference does.
// The fourth byte of each pixel keeps what the buffer held. The other operations use the SSSE3
// rows.
#include <immintrin.h>

#include "convert/color_rows.h"

#define AVX2 __attribute__((target("avx2")))

namespace {

AVX2 inline __m256i DoubledChroma(const uint8_t* c)
{
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
    return _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(eight, eight)), _mm256_set1_epi16(128));
}

AVX2 inline __m256i Times(__m256i a, int16_t k) { return _mm256_mullo_epi16(a, _mm256_set1_epi16(k)); }

// With C = Y - 16 (the 298 of the reference split as 256 + 42, and 516 = 512 + 4,
// -208 = -256 + 48, 409 = 512 - 103), every term stays within 16 bits:
//   B = C + 2D + ((42C + 4D + 128) >> 8)
//   G = C - E + ((42C - 100D + 48E + 128) >> 8)
//   R = C + 2E + ((42C - 103E + 128) >> 8)
// which are the reference's floors exactly, since the whole multiples of 256 leave the shift.
AVX2 void YuvToRgb32(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t groups, uint8_t* dst)
{
    const __m256i keep = _mm256_set1_epi32(int32_t(0xFF000000u));
    const __m256i pairUp = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2, 10, 3,
                                            11, 4, 12, 5, 13, 6, 14, 7, 15);
    for (uint32_t g = 0; g < groups; ++g, y += 16, u += 8, v += 8, dst += 64) {
        const __m256i c = _mm256_sub_epi16(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y))), _mm256_set1_epi16(16));
        const __m256i d = DoubledChroma(u), e = DoubledChroma(v);
        const __m256i base = _mm256_add_epi16(Times(c, 42), _mm256_set1_epi16(128));
        const __m256i b = _mm256_add_epi16(_mm256_add_epi16(c, _mm256_add_epi16(d, d)),
                                           _mm256_srai_epi16(_mm256_add_epi16(base, _mm256_slli_epi16(d, 2)), 8));
        const __m256i gr = _mm256_add_epi16(
            _mm256_sub_epi16(c, e),
            _mm256_srai_epi16(_mm256_add_epi16(base, _mm256_add_epi16(Times(d, -100), Times(e, 48))), 8));
        const __m256i r = _mm256_add_epi16(_mm256_add_epi16(c, _mm256_add_epi16(e, e)),
                                           _mm256_srai_epi16(_mm256_add_epi16(base, Times(e, -103)), 8));
        // Per 128-bit lane (pixels 0-7, 8-15): B G pairs, then R and a zero, then whole pixels.
        const __m256i bg = _mm256_shuffle_epi8(_mm256_packus_epi16(b, gr), pairUp);
        const __m256i r0 = _mm256_unpacklo_epi8(_mm256_packus_epi16(r, r), _mm256_setzero_si256());
        const __m256i low = _mm256_unpacklo_epi16(bg, r0), high = _mm256_unpackhi_epi16(bg, r0);
        __m256i* out = reinterpret_cast<__m256i*>(dst);
        const __m256i px[2] = {_mm256_permute2x128_si256(low, high, 0x20), _mm256_permute2x128_si256(low, high, 0x31)};
        for (int h = 0; h < 2; ++h)
            _mm256_storeu_si256(out + h, _mm256_blendv_epi8(px[h], _mm256_loadu_si256(out + h), keep));
    }
}

void YuvToRgbRowAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                     uint32_t bytesPerPixel)
{
    if (bytesPerPixel != 4) return YuvToRgbRowPlain(y, v, u, width, dst, bytesPerPixel);
    const uint32_t groups = width / 16, done = groups * 16;
    YuvToRgb32(y, v, u, groups, dst);
    YuvToRgbRowPlain(y + done, v + done / 2, u + done / 2, width - done, dst + size_t(done) * 4, 4);
}

}  // namespace

const ColorRowFunctions kAvx2ColorRows{"avx2",
                                       UnpackPackedRowSsse3,
                                       PackPackedRowSsse3,
                                       RgbToYuvRowSsse3,
                                       RgbToYuv420RowsSsse3,
                                       YuvToRgbRowAvx2,
                                       AverageRowsSsse3};
