// The horizontal pass eight rows at a time with AVX2 (only FilterColumns is compiled for it, so
// nothing shared with other files carries AVX2 code): the rows are interleaved (column x holds
// its eight samples side by side), so every tap of an output column is one 8-byte load that
// serves all eight rows, and one 32-bit multiply-add per tap does eight outputs. The integer
// arithmetic is the reference row function's, so the bytes are the same.
#include <immintrin.h>

#include <vector>

#include "filter_rows.h"

namespace {

// rows[0..7][x, x + 16) -> block[x * 8 + r].
inline void Interleave16(const uint8_t* const* rows, uint32_t x, uint8_t* block)
{
    __m128i r[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[i] + x));
    __m128i a[8], b[8];
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[2 * i + 1] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int h = 0; h < 2; ++h) {  // rows 0-3, rows 4-7
        __m128i* in = a + 4 * h;
        b[4 * h + 0] = _mm_unpacklo_epi16(in[0], in[2]);
        b[4 * h + 1] = _mm_unpackhi_epi16(in[0], in[2]);
        b[4 * h + 2] = _mm_unpacklo_epi16(in[1], in[3]);
        b[4 * h + 3] = _mm_unpackhi_epi16(in[1], in[3]);
    }
    __m128i* out = reinterpret_cast<__m128i*>(block + size_t(x) * 8);
    for (int i = 0; i < 4; ++i) {
        _mm_storeu_si128(out + 2 * i, _mm_unpacklo_epi32(b[i], b[4 + i]));
        _mm_storeu_si128(out + 2 * i + 1, _mm_unpackhi_epi32(b[i], b[4 + i]));
    }
}

// block[j * 8 + r] for j in [j0, j0 + 8) -> rows[r][j0 ...].
inline void Deinterleave8(const uint8_t* block, uint32_t j0, uint8_t* const* rows)
{
    const __m128i* in = reinterpret_cast<const __m128i*>(block + size_t(j0) * 8);
    __m128i q0 = _mm_loadu_si128(in), q1 = _mm_loadu_si128(in + 1), q2 = _mm_loadu_si128(in + 2),
            q3 = _mm_loadu_si128(in + 3);
    __m128i u0 = _mm_unpacklo_epi8(q0, q1), u1 = _mm_unpackhi_epi8(q0, q1);
    __m128i u2 = _mm_unpacklo_epi8(q2, q3), u3 = _mm_unpackhi_epi8(q2, q3);
    __m128i v0 = _mm_unpacklo_epi8(u0, u1), v1 = _mm_unpackhi_epi8(u0, u1);
    __m128i v2 = _mm_unpacklo_epi8(u2, u3), v3 = _mm_unpackhi_epi8(u2, u3);
    __m128i w[4] = {_mm_unpacklo_epi32(v0, v2), _mm_unpackhi_epi32(v0, v2), _mm_unpacklo_epi32(v1, v3),
                    _mm_unpackhi_epi32(v1, v3)};
    for (int i = 0; i < 4; ++i) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[2 * i] + j0), w[i]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[2 * i + 1] + j0), _mm_unpackhi_epi64(w[i], w[i]));
    }
}

template <uint32_t Fixed>
__attribute__((target("avx2"))) void FilterColumns(const uint8_t* block, uint8_t* out, uint32_t count, uint32_t runtimeTaps, const int32_t* pos,
                   const int32_t* w, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    const __m256i bias = _mm256_set1_epi32(rounding);
    for (uint32_t j = 0; j < count; ++j, pos += taps, w += taps) {
        __m256i acc = bias;
        for (uint32_t t = 0; t < taps; ++t) {
            __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + size_t(pos[t]) * 8)));
            acc = _mm256_add_epi32(acc, _mm256_mullo_epi32(v, _mm256_set1_epi32(w[t])));
        }
        acc = _mm256_srai_epi32(acc, 16);
        __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size_t(j) * 8), _mm_packus_epi16(words, words));
    }
}

// Sixteen columns per step: each tap's samples widened to 32 bits straight from memory, one
// multiply-add per tap, then the reference's shift and clamp through the saturating packs.
template <uint32_t Fixed>
__attribute__((target("avx2"))) uint32_t VerticalColumns(const uint8_t* const* rows, const int32_t* weights,
                                                         uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    __m256i w[Fixed];
    for (uint32_t t = 0; t < Fixed; ++t) w[t] = _mm256_set1_epi32(weights[t]);
    const __m256i bias = _mm256_set1_epi32(rounding);
    uint32_t c = first;
    for (; c + 16 <= last; c += 16) {
        __m256i acc[2] = {bias, bias};
        for (uint32_t t = 0; t < Fixed; ++t)
            for (int h = 0; h < 2; ++h) {
                const __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[t] + c + 8 * h)));
                acc[h] = _mm256_add_epi32(acc[h], _mm256_mullo_epi32(v, w[t]));
            }
        const __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(acc[0], 16), _mm256_srai_epi32(acc[1], 16));
        const __m256i bytes = _mm256_packus_epi16(words, words);  // per lane: c0-3, c8-11 | c4-7, c12-15
        const __m256i ordered = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + c), _mm256_castsi256_si128(ordered));
    }
    return c;
}

}  // namespace

uint32_t FilterColumnsVerticalAvx2(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                                   uint32_t first, uint32_t last, int32_t rounding)
{
    switch (taps) {
    case 2: return VerticalColumns<2>(rows, weights, dst, first, last, rounding);
    case 4: return VerticalColumns<4>(rows, weights, dst, first, last, rounding);
    case 6: return VerticalColumns<6>(rows, weights, dst, first, last, rounding);
    default: return first;
    }
}

void FilterRowsHorizontalAvx2(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                              const TapTable& table, int32_t rounding)
{
    // Per worker thread, grown once: no allocation per frame.
    thread_local std::vector<uint8_t> in, out;
    in.resize(size_t(srcWidth) * 8);
    out.resize(size_t(count) * 8 + 64);
    uint32_t x = 0;
    for (; x + 16 <= srcWidth; x += 16) Interleave16(src, x, in.data());
    for (; x < srcWidth; ++x)
        for (int r = 0; r < 8; ++r) in[size_t(x) * 8 + r] = src[r][x];
    const int32_t* pos = table.position.data();
    const int32_t* w = table.weight.data();
    switch (table.taps) {
    case 2: FilterColumns<2>(in.data(), out.data(), count, 2, pos, w, rounding); break;
    case 4: FilterColumns<4>(in.data(), out.data(), count, 4, pos, w, rounding); break;
    case 6: FilterColumns<6>(in.data(), out.data(), count, 6, pos, w, rounding); break;
    default: FilterColumns<0>(in.data(), out.data(), count, table.taps, pos, w, rounding); break;
    }
    uint32_t j = 0;
    for (; j + 8 <= count; j += 8) Deinterleave8(out.data(), j, dst);
    for (; j < count; ++j)
        for (int r = 0; r < 8; ++r) dst[r][j] = out[size_t(j) * 8 + r];
}
