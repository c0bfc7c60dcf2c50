// AVX2 YUV to RGB32 rows: eight pixels per step in 32-bit lanes, the matrix of the reference
// YuvToRgbRow (color_rows.cpp) with its rounding; the saturating packs clamp to 0..255 as the
// reference does. The fourth byte of each pixel keeps what the buffer held.
#include <immintrin.h>

#include "convert/color_rows.h"

namespace {

__attribute__((target("avx2"))) __m128i ToBytes(__m256i v)
{
    __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_packus_epi16(words, words);
}

__attribute__((target("avx2"))) void Convert(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t groups,
                                             uint8_t* dst)
{
    const __m256i c16 = _mm256_set1_epi32(16), c128 = _mm256_set1_epi32(128), c298 = _mm256_set1_epi32(298);
    const __m256i c516 = _mm256_set1_epi32(516), c100 = _mm256_set1_epi32(100), c208 = _mm256_set1_epi32(208),
                  c409 = _mm256_set1_epi32(409);
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    for (uint32_t g = 0; g < groups; ++g, y += 8, u += 4, v += 4, dst += 32) {
        int32_t u4, v4;
        __builtin_memcpy(&u4, u, 4);
        __builtin_memcpy(&v4, v, 4);
        const __m128i uu = _mm_cvtsi32_si128(u4), vv = _mm_cvtsi32_si128(v4);
        const __m256i Y = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)));
        const __m256i D = _mm256_sub_epi32(_mm256_cvtepu8_epi32(_mm_unpacklo_epi8(uu, uu)), c128);
        const __m256i E = _mm256_sub_epi32(_mm256_cvtepu8_epi32(_mm_unpacklo_epi8(vv, vv)), c128);
        const __m256i C = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(Y, c16), c298), c128);
        const __m256i B = _mm256_srai_epi32(_mm256_add_epi32(C, _mm256_mullo_epi32(D, c516)), 8);
        const __m256i G = _mm256_srai_epi32(
            _mm256_sub_epi32(C, _mm256_add_epi32(_mm256_mullo_epi32(D, c100), _mm256_mullo_epi32(E, c208))), 8);
        const __m256i R = _mm256_srai_epi32(_mm256_add_epi32(C, _mm256_mullo_epi32(E, c409)), 8);
        const __m128i bg = _mm_unpacklo_epi8(ToBytes(B), ToBytes(G));
        const __m128i r0 = _mm_unpacklo_epi8(ToBytes(R), _mm_setzero_si128());
        __m128i* out = reinterpret_cast<__m128i*>(dst);
        for (int half = 0; half < 2; ++half) {
            const __m128i px = half ? _mm_unpackhi_epi16(bg, r0) : _mm_unpacklo_epi16(bg, r0);
            const __m128i old = _mm_loadu_si128(out + half);
            _mm_storeu_si128(out + half, _mm_or_si128(_mm_and_si128(px, colour), _mm_andnot_si128(colour, old)));
        }
    }
}

}  // namespace

uint32_t YuvToRgb32GroupsAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst)
{
    static const bool supported = __builtin_cpu_supports("avx2");
    if (!supported) return 0;
    const uint32_t groups = width / 8;
    Convert(y, v, u, groups, dst);
    return groups * 8;
}
