// SSSE3 de-interleave of packed 4:2:2 rows: one byte shuffle per 16 input bytes and plane.
// Produces the bytes of the reference UnpackPackedRow (color_rows.cpp) on whole groups of
// eight pixel pairs; the caller finishes the rest with the reference.
#include <immintrin.h>

#include "convert/color_rows.h"

namespace {

template <int Y0, int U, int Y1, int V>
__attribute__((target("ssse3"))) void Unpack(const uint8_t* src, uint32_t groups, uint8_t* y, uint8_t* v, uint8_t* u)
{
    const __m128i lumaMask = _mm_setr_epi8(Y0, Y1, 4 + Y0, 4 + Y1, 8 + Y0, 8 + Y1, 12 + Y0, 12 + Y1, -1, -1, -1, -1,
                                           -1, -1, -1, -1);
    const __m128i uLow = _mm_setr_epi8(U, 4 + U, 8 + U, 12 + U, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i uHigh = _mm_setr_epi8(-1, -1, -1, -1, U, 4 + U, 8 + U, 12 + U, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i vLow = _mm_setr_epi8(V, 4 + V, 8 + V, 12 + V, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i vHigh = _mm_setr_epi8(-1, -1, -1, -1, V, 4 + V, 8 + V, 12 + V, -1, -1, -1, -1, -1, -1, -1, -1);
    for (uint32_t g = 0; g < groups; ++g, src += 32, y += 16, u += 8, v += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y),
                         _mm_unpacklo_epi64(_mm_shuffle_epi8(a, lumaMask), _mm_shuffle_epi8(b, lumaMask)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u), _mm_or_si128(_mm_shuffle_epi8(a, uLow), _mm_shuffle_epi8(b, uHigh)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v), _mm_or_si128(_mm_shuffle_epi8(a, vLow), _mm_shuffle_epi8(b, vHigh)));
    }
}

}  // namespace

uint32_t UnpackPackedGroupsSsse3(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v,
                                 uint8_t* u)
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    if (!supported) return 0;
    const uint32_t groups = width / 16;
    if (layout.u == kUyvyLayout.u)
        Unpack<1, 0, 3, 2>(src, groups, y, v, u);
    else if (layout.v == kYvyuLayout.v)
        Unpack<0, 3, 2, 1>(src, groups, y, v, u);
    else
        Unpack<0, 1, 2, 3>(src, groups, y, v, u);
    return groups * 16;
}
