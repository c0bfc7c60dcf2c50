// The wide-vector paths of the two passes: AVX2, and AVX-512 where the processor has it (each
// function carries its own target, so nothing shared with other files carries either).
// The horizontal pass interleaves a block of 8 or 16 rows (column x holds its samples side by
// side), so every tap of an output column is one load that serves all the rows, and one 32-bit
// multiply-add per tap does all their outputs. The vertical pass widens each tap's samples to
// 32 bits straight from memory. With byte permutes and 16-bit dot products (kAvx512Vnni) both
// passes split each weight into a 16-bit rest and a whole part instead and take two taps per
// dot product. The integer arithmetic is the plain row functions', so the bytes are the same.
#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start from deliberately undefined vectors and warn about them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <vector>

#include "filter_rows.h"

#define VELTRO_AVX2 __attribute__((target("avx2")))
#define VELTRO_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))
#define VELTRO_AVX512_VNNI __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni")))

namespace {

// Both 16-bit halves of a pair of weights in one 32-bit lane: the high parts (w >> 8) or the
// low bytes (w & 255), so that s * w = 256 (s * high) + s * low for every 8-bit sample s.
inline int32_t HighPair(int32_t w0, int32_t w1) { return int32_t(uint32_t(uint16_t(w0 >> 8)) | uint32_t(w1 >> 8) << 16); }
inline int32_t LowPair(int32_t w0, int32_t w1) { return (w0 & 255) | (w1 & 255) << 16; }

// rows[0..7][x, x + 16) -> block[(x + i) * Stride + r]; Stride 16 leaves room for a second group
// of eight rows at block + 8.
template <uint32_t Stride>
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
    uint8_t* out = block + size_t(x) * Stride;
    for (int i = 0; i < 8; ++i) {  // columns 2i and 2i + 1
        const __m128i pair = i % 2 ? _mm_unpackhi_epi32(b[i / 2], b[4 + i / 2]) : _mm_unpacklo_epi32(b[i / 2], b[4 + i / 2]);
        if constexpr (Stride == 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), pair);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i * Stride), pair);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * i + 1) * Stride), _mm_unpackhi_epi64(pair, pair));
        }
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

// Eight rows: out[j * 8 + r].
template <uint32_t Fixed>
VELTRO_AVX2 void FilterColumns8(const uint8_t* block, uint8_t* const* out, uint32_t count, uint32_t runtimeTaps,
                                const int32_t* pos, const int32_t* w, int32_t rounding)
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
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0] + size_t(j) * 8), _mm_packus_epi16(words, words));
    }
}

// Sixteen rows, one vector of sixteen sums per output column: rows 0-7 to out[0][j * 8 + r],
// rows 8-15 to out[1]. The clamp is a signed maximum with zero, then an unsigned saturating
// narrowing.
template <uint32_t Fixed>
VELTRO_AVX512 void FilterColumns16(const uint8_t* block, uint8_t* const* out, uint32_t count, uint32_t runtimeTaps,
                                   const int32_t* pos, const int32_t* w, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    const __m512i bias = _mm512_set1_epi32(rounding);
    const __m512i zero = _mm512_setzero_si512();
    for (uint32_t j = 0; j < count; ++j, pos += taps, w += taps) {
        __m512i acc = bias;
        for (uint32_t t = 0; t < taps; ++t) {
            __m512i v = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + size_t(pos[t]) * 16)));
            acc = _mm512_add_epi32(acc, _mm512_mullo_epi32(v, _mm512_set1_epi32(w[t])));
        }
        const __m128i bytes = _mm512_cvtusepi32_epi8(_mm512_max_epi32(_mm512_srai_epi32(acc, 16), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0] + size_t(j) * 8), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[1] + size_t(j) * 8), _mm_unpackhi_epi64(bytes, bytes));
    }
}


// FilterColumns16 with two taps per 16-bit multiply-add (the table's weights must split into
// pairs): the sums agree with the 32-bit ones modulo 2^32, so the bytes are the same.
template <uint32_t Fixed>
VELTRO_AVX512 void FilterColumns16Pairs(const uint8_t* block, uint8_t* const* out, uint32_t count,
                                        uint32_t runtimeTaps, const int32_t* pos, const int32_t* w, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    const __m512i bias = _mm512_set1_epi32(rounding);
    const __m512i zero = _mm512_setzero_si512();
    auto samples = [block](int32_t column) VELTRO_AVX512 {
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + size_t(column) * 16)));
    };
    for (uint32_t j = 0; j < count; ++j, pos += taps, w += taps) {
        __m512i high = zero, low = zero;
        uint32_t t = 0;
        for (; t + 1 < taps; t += 2) {
            const __m512i pair = _mm512_or_si512(samples(pos[t]), _mm512_slli_epi32(samples(pos[t + 1]), 16));
            high = _mm512_add_epi32(high, _mm512_madd_epi16(pair, _mm512_set1_epi32(HighPair(w[t], w[t + 1]))));
            low = _mm512_add_epi32(low, _mm512_madd_epi16(pair, _mm512_set1_epi32(LowPair(w[t], w[t + 1]))));
        }
        if (t < taps) {
            const __m512i single = samples(pos[t]);
            high = _mm512_add_epi32(high, _mm512_madd_epi16(single, _mm512_set1_epi32(HighPair(w[t], 0))));
            low = _mm512_add_epi32(low, _mm512_madd_epi16(single, _mm512_set1_epi32(LowPair(w[t], 0))));
        }
        const __m512i acc = _mm512_add_epi32(_mm512_add_epi32(_mm512_slli_epi32(high, 8), low), bias);
        const __m128i bytes = _mm512_cvtusepi32_epi8(_mm512_max_epi32(_mm512_srai_epi32(acc, 16), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0] + size_t(j) * 8), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[1] + size_t(j) * 8), _mm_unpackhi_epi64(bytes, bytes));
    }
}

template <uint32_t Rows, uint32_t Fixed>
void FilterColumns(const uint8_t* block, uint8_t* const* out, uint32_t count, uint32_t taps, const int32_t* pos,
                   const int32_t* w, int32_t rounding, bool pairs)
{
    if constexpr (Rows == 8)
        FilterColumns8<Fixed>(block, out, count, taps, pos, w, rounding);
    else if (pairs)
        FilterColumns16Pairs<Fixed>(block, out, count, taps, pos, w, rounding);
    else
        FilterColumns16<Fixed>(block, out, count, taps, pos, w, rounding);
}

template <uint32_t Rows>
void FilterRowBlock(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                    const TapTable& table, int32_t rounding)
{
    constexpr uint32_t kGroups = Rows / 8;
    // Output columns per round of filtering and de-interleaving, so the results are read back
    // from the first-level cache.
    constexpr uint32_t kChunk = 256;
    constexpr size_t kGroupBytes = kChunk * 8;
    // Per worker thread, grown once: no allocation per frame.
    thread_local std::vector<uint8_t> in, out;
    in.resize(size_t(srcWidth) * Rows);
    out.resize(kGroupBytes * kGroups);
    uint8_t* outGroups[kGroups];
    for (uint32_t g = 0; g < kGroups; ++g) outGroups[g] = out.data() + g * kGroupBytes;

    uint32_t x = 0;
    for (; x + 16 <= srcWidth; x += 16)
        for (uint32_t g = 0; g < kGroups; ++g) Interleave16<Rows>(src + 8 * g, x, in.data() + 8 * g);
    for (; x < srcWidth; ++x)
        for (uint32_t r = 0; r < Rows; ++r) in[size_t(x) * Rows + r] = src[r][x];

    const uint32_t taps = table.taps;
    for (uint32_t j0 = 0; j0 < count; j0 += kChunk) {
        const uint32_t n = std::min(kChunk, count - j0);
        const int32_t* pos = table.PositionsOf(j0);
        const int32_t* w = table.WeightsOf(j0);
        switch (taps) {
        case 2: FilterColumns<Rows, 2>(in.data(), outGroups, n, 2, pos, w, rounding, table.pairs); break;
        case 4: FilterColumns<Rows, 4>(in.data(), outGroups, n, 4, pos, w, rounding, table.pairs); break;
        case 6: FilterColumns<Rows, 6>(in.data(), outGroups, n, 6, pos, w, rounding, table.pairs); break;
        default: FilterColumns<Rows, 0>(in.data(), outGroups, n, taps, pos, w, rounding, table.pairs); break;
        }
        for (uint32_t g = 0; g < kGroups; ++g) {
            uint8_t* rows[8];
            for (int r = 0; r < 8; ++r) rows[r] = dst[8 * g + r] + j0;
            uint32_t j = 0;
            for (; j + 8 <= n; j += 8) Deinterleave8(outGroups[g], j, rows);
            for (; j < n; ++j)
                for (int r = 0; r < 8; ++r) rows[r][j] = outGroups[g][size_t(j) * 8 + r];
        }
    }
}

// Sixteen columns per step: each tap's samples widened to 32 bits straight from memory, one
// multiply-add per tap, then the reference's shift and clamp through the saturating packs.
template <uint32_t Fixed>
VELTRO_AVX2 uint32_t VerticalColumns(const uint8_t* const* rows, const int32_t* weights, uint8_t* dst, uint32_t first,
                                     uint32_t last, int32_t rounding)
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

// Thirty-two columns per step, the last step masked, so any range and any tap count is done
// here whole. The weights of a fixed tap count stay in registers (the byte stores could alias
// them, so the compiler would reload them otherwise).
template <uint32_t Fixed>
VELTRO_AVX512 void VerticalColumns512(const uint8_t* const* rows, const int32_t* weights, uint32_t runtimeTaps,
                                      uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    __m512i fixedWeights[Fixed ? Fixed : 1];
    for (uint32_t t = 0; t < Fixed; ++t) fixedWeights[t] = _mm512_set1_epi32(weights[t]);
    const __m512i bias = _mm512_set1_epi32(rounding);
    const __m512i zero = _mm512_setzero_si512();
    for (uint32_t c = first; c < last; c += 32) {
        const uint32_t n = std::min<uint32_t>(32, last - c);
        const __mmask32 mask = n == 32 ? ~__mmask32(0) : (__mmask32(1) << n) - 1;
        __m512i acc[2] = {bias, bias};
        for (uint32_t t = 0; t < taps; ++t) {
            const __m512i w = Fixed ? fixedWeights[t] : _mm512_set1_epi32(weights[t]);
            for (int h = 0; h < 2; ++h) {
                const __m128i bytes = _mm_maskz_loadu_epi8(__mmask16(mask >> (16 * h)), rows[t] + c + 16 * h);
                acc[h] = _mm512_add_epi32(acc[h], _mm512_mullo_epi32(_mm512_cvtepu8_epi32(bytes), w));
            }
        }
        const __m128i lo = _mm512_cvtusepi32_epi8(_mm512_max_epi32(_mm512_srai_epi32(acc[0], 16), zero));
        const __m128i hi = _mm512_cvtusepi32_epi8(_mm512_max_epi32(_mm512_srai_epi32(acc[1], 16), zero));
        _mm256_mask_storeu_epi8(dst + c, mask, _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1));
    }
}

// The same sums with two taps per 16-bit multiply-add: each weight split as w = 256 a + b with
// b = w & 255 and a = w >> 8, so that s * w = 256 (s * a) + s * b, both products within the
// 16-bit operands of vpmaddwd; the sums agree with the 32-bit ones modulo 2^32, so the bytes
// are the same. Weights must lie in [-2^23, 2^23).
template <uint32_t Fixed>
VELTRO_AVX512 void VerticalPairs512(const uint8_t* const* rows, const int32_t* weights, uint32_t runtimeTaps,
                                    uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    const uint32_t pairs = (taps + 1) / 2;
    // The second tap of an odd count weighs 0.
    auto pairOf = [&](uint32_t p, auto part) {
        return part(weights[2 * p], 2 * p + 1 < taps ? weights[2 * p + 1] : 0);
    };
    const auto high = HighPair, low = LowPair;
    constexpr uint32_t kHeld = Fixed ? (Fixed + 1) / 2 : 1;
    __m512i heldHigh[kHeld], heldLow[kHeld];
    for (uint32_t p = 0; Fixed && p < pairs; ++p) {
        heldHigh[p] = _mm512_set1_epi32(pairOf(p, high));
        heldLow[p] = _mm512_set1_epi32(pairOf(p, low));
    }
    const __m512i bias = _mm512_set1_epi32(rounding);
    const __m512i zero = _mm512_setzero_si512();
    for (uint32_t c = first; c < last; c += 32) {
        const __mmask32 mask = last - c >= 32 ? ~__mmask32(0) : (__mmask32(1) << (last - c)) - 1;
        __m512i sumHigh[2] = {zero, zero}, sumLow[2] = {zero, zero};
        for (uint32_t p = 0; p < pairs; ++p) {
            const __m512i s0 = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(mask, rows[2 * p] + c));
            const __m512i s1 =
                2 * p + 1 < taps ? _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(mask, rows[2 * p + 1] + c)) : zero;
            const __m512i wh = Fixed ? heldHigh[p] : _mm512_set1_epi32(pairOf(p, high));
            const __m512i wl = Fixed ? heldLow[p] : _mm512_set1_epi32(pairOf(p, low));
            const __m512i s[2] = {_mm512_unpacklo_epi16(s0, s1), _mm512_unpackhi_epi16(s0, s1)};
            for (int h = 0; h < 2; ++h) {
                sumHigh[h] = _mm512_add_epi32(sumHigh[h], _mm512_madd_epi16(s[h], wh));
                sumLow[h] = _mm512_add_epi32(sumLow[h], _mm512_madd_epi16(s[h], wl));
            }
        }
        __m512i v[2];
        for (int h = 0; h < 2; ++h) {
            const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(_mm512_slli_epi32(sumHigh[h], 8), sumLow[h]), bias);
            v[h] = _mm512_max_epi32(_mm512_srai_epi32(sum, 16), zero);
        }
        // Within each 128-bit lane the low halves hold columns 0-3 and the high halves 4-7.
        _mm256_mask_storeu_epi8(dst + c, mask, _mm512_cvtusepi16_epi8(_mm512_packs_epi32(v[0], v[1])));
    }
}

bool SplitsIntoPairs(const int32_t* weights, uint32_t taps)
{
    return std::all_of(weights, weights + taps, SplitsIntoHalves);
}

}  // namespace

bool HasAvx512Vnni()
{
    static const bool has = HasAvx512() && __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
    return has;
}

bool HasAvx512()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl");
    return has;
}

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

void FilterColumnsVerticalAvx512(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                                 uint32_t first, uint32_t last, int32_t rounding)
{
    if (!SplitsIntoPairs(weights, taps)) return VerticalColumns512<0>(rows, weights, taps, dst, first, last, rounding);
    switch (taps) {
    case 2: return VerticalPairs512<2>(rows, weights, 2, dst, first, last, rounding);
    case 4: return VerticalPairs512<4>(rows, weights, 4, dst, first, last, rounding);
    case 6: return VerticalPairs512<6>(rows, weights, 6, dst, first, last, rounding);
    default: return VerticalPairs512<0>(rows, weights, taps, dst, first, last, rounding);
    }
}

void FilterRowsHorizontalAvx2(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                              const TapTable& table, int32_t rounding)
{
    FilterRowBlock<8>(src, dst, srcWidth, count, table, rounding);
}

void FilterRowsHorizontalAvx512(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                                const TapTable& table, int32_t rounding)
{
    FilterRowBlock<16>(src, dst, srcWidth, count, table, rounding);
}

namespace {

// Two 16-bit operands of a dot product in one 32-bit lane.
inline int32_t WordPair(int32_t a, int32_t b) { return int32_t(uint32_t(uint16_t(a)) | uint32_t(uint16_t(b)) << 16); }

// The taps of pair p, from the outside in: p and taps - 1 - p, so that the taps near the
// middle, the only ones whose weights reach half a unit and have a whole part, share pairs.
// The middle tap of an odd count has no partner (-1).
struct TapPair {
    int32_t first, second;
};
inline TapPair PairOfTaps(uint32_t taps, uint32_t p)
{
    return {int32_t(p), p < taps / 2 ? int32_t(taps - 1 - p) : -1};
}

// Whether the split paths take an output's weights: the split sums fit and whole parts lie in
// the middle pair (the last one) only; otherwise the 32-bit paths do.
inline bool SplitPathsServe(const int32_t* weights, uint32_t taps)
{
    for (uint32_t p = 0; p + 1 < (taps + 1) / 2; ++p) {
        const TapPair t = PairOfTaps(taps, p);
        if (WholeOf(weights[t.first]) != 0 || WholeOf(weights[t.second]) != 0) return false;
    }
    return SplitSumsFit(weights, taps);
}

// Four vectors of sixteen sums whose 128-bit lanes L hold columns 16L + 0..3, 16L + 4..7,
// 16L + 8..11 and 16L + 12..15, as bytes 0..63 in column order. The saturating packs clamp as
// the plain rows do (to 16 bits, then to 0..255).
VELTRO_AVX512_VNNI inline __m512i PackInColumnOrder(const __m512i* v)
{
    return _mm512_packus_epi16(_mm512_packs_epi32(v[0], v[1]), _mm512_packs_epi32(v[2], v[3]));
}

// (sum of s * c) + ((sum of s * r + rounding) >> 16), the rests' sum started at the rounding.
VELTRO_AVX512_VNNI inline __m512i Combine(__m512i rests, __m512i wholes)
{
    return _mm512_add_epi32(_mm512_srai_epi32(rests, 16), wholes);
}

// Sixty-four columns per step, two taps per dot product: interleaving two rows' bytes and then
// widening them puts the samples of a column side by side as 16-bit words, a dot product with
// the weights' rests adds them into the column's sum, another with the whole parts of the middle
// pair (the last one), where alone they lie. A fixed tap count unrolls the pairs.
template <uint32_t Fixed>
VELTRO_AVX512_VNNI void VerticalSplit(const uint8_t* const* rows, const int32_t* weights, uint32_t runtimeTaps,
                                      uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    const uint32_t pairs = (taps + 1) / 2;
    // The middle tap of an odd count is paired with nothing, which weighs 0.
    auto pairOf = [&](uint32_t p, auto part) {
        const TapPair t = PairOfTaps(taps, p);
        return WordPair(part(weights[t.first]), t.second >= 0 ? part(weights[t.second]) : 0);
    };
    auto rest = [](int32_t w) { return RestOf(w); };
    constexpr uint32_t kHeld = Fixed ? (Fixed + 1) / 2 : 1;
    __m512i heldRest[kHeld];
    for (uint32_t p = 0; Fixed && p < pairs; ++p) heldRest[p] = _mm512_set1_epi32(pairOf(p, rest));
    const __m512i wholeWeights = _mm512_set1_epi32(pairOf(pairs - 1, [](int32_t w) { return WholeOf(w); }));
    const __m512i bias = _mm512_set1_epi32(rounding);
    const __m512i zero = _mm512_setzero_si512();
    for (uint32_t c = first; c < last; c += 64) {
        const __mmask64 mask = last - c >= 64 ? ~__mmask64(0) : (__mmask64(1) << (last - c)) - 1;
        __m512i rests[4] = {bias, bias, bias, bias}, wholes[4] = {zero, zero, zero, zero};
        for (uint32_t p = 0; p < pairs; ++p) {
            const TapPair t = PairOfTaps(taps, p);
            const __m512i a = _mm512_maskz_loadu_epi8(mask, rows[t.first] + c);
            const __m512i b = t.second >= 0 ? _mm512_maskz_loadu_epi8(mask, rows[t.second] + c) : zero;
            const __m512i wr = Fixed ? heldRest[p] : _mm512_set1_epi32(pairOf(p, rest));
            // Per 128-bit lane L: columns 16L + 0..7 and 16L + 8..15, then four each.
            const __m512i ab[2] = {_mm512_unpacklo_epi8(a, b), _mm512_unpackhi_epi8(a, b)};
            for (int k = 0; k < 4; ++k) {
                const __m512i samples = k % 2 ? _mm512_unpackhi_epi8(ab[k / 2], zero) : _mm512_unpacklo_epi8(ab[k / 2], zero);
                rests[k] = _mm512_dpwssd_epi32(rests[k], samples, wr);
                if (p + 1 == pairs) wholes[k] = _mm512_dpwssd_epi32(wholes[k], samples, wholeWeights);
            }
        }
        __m512i sums[4];
        for (int k = 0; k < 4; ++k) sums[k] = Combine(rests[k], wholes[k]);
        _mm512_mask_storeu_epi8(dst + c, mask, PackInColumnOrder(sums));
    }
}

}  // namespace

void FilterColumnsVerticalVnni(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                               uint32_t first, uint32_t last, int32_t rounding)
{
    if (!SplitPathsServe(weights, taps))
        return FilterColumnsVerticalAvx512(rows, weights, taps, dst, first, last, rounding);
    switch (taps) {
    case 2: return VerticalSplit<2>(rows, weights, 2, dst, first, last, rounding);
    case 4: return VerticalSplit<4>(rows, weights, 4, dst, first, last, rounding);
    case 6: return VerticalSplit<6>(rows, weights, 6, dst, first, last, rounding);
    default: return VerticalSplit<0>(rows, weights, taps, dst, first, last, rounding);
    }
}

bool WindowTable::Build(const TapTable& table, uint32_t outputs)
{
    constexpr uint32_t kRun = 16, kWindow = 64;
    const uint32_t taps = table.taps;
    count = outputs;
    pairs = (taps + 1) / 2;
    wholes = false;
    const uint32_t runs = (outputs + kRun - 1) / kRun;
    base.assign(runs, 0);
    index.assign(size_t(runs) * pairs * kWindow, 0);
    rest.assign(size_t(runs) * pairs * kRun, 0);
    whole.assign(size_t(runs) * pairs * kRun, 0);
    if (taps == 0) return false;
    for (uint32_t j = 0; j < outputs; ++j)
        if (!SplitPathsServe(table.WeightsOf(j), taps)) return false;
    for (uint32_t r = 0; r < runs; ++r) {
        const uint32_t first = r * kRun, n = std::min(kRun, outputs - first);
        const int32_t* pos = table.PositionsOf(first);
        const auto [lo, hi] = std::minmax_element(pos, pos + size_t(n) * taps);
        if (*hi - *lo >= int32_t(kWindow)) return false;
        base[r] = *lo;
        for (uint32_t p = 0; p < pairs; ++p)
            for (uint32_t j = 0; j < n; ++j) {
                const int32_t* at = table.PositionsOf(first + j);
                const int32_t* w = table.WeightsOf(first + j);
                const TapPair pair = PairOfTaps(taps, p);
                const uint32_t t0 = pair.first, t1 = pair.second >= 0 ? pair.second : pair.first;
                const int32_t w1 = pair.second >= 0 ? w[t1] : 0;
                const size_t at16 = (size_t(r) * pairs + p) * kRun + j;
                uint8_t* lane = &index[(size_t(r) * pairs + p) * kWindow + 4 * j];
                lane[0] = uint8_t(at[t0] - *lo);
                lane[2] = uint8_t(at[t1] - *lo);
                rest[at16] = WordPair(RestOf(w[t0]), RestOf(w1));
                whole[at16] = WordPair(WholeOf(w[t0]), WholeOf(w1));
                wholes = wholes || whole[at16] != 0;
            }
    }
    return true;
}

namespace {

// One run of sixteen outputs of Rows rows, each row's (sum of s * c) + ((sum of s * r +
// rounding) >> 16) in a vector; a run past the end gives zeros.
template <uint32_t Rows, uint32_t FixedPairs>
VELTRO_AVX512_VNNI inline void RunSums(const uint8_t* const* src, uint32_t srcWidth, const WindowTable& table,
                                       uint32_t run, __m512i bias, __m512i* out)
{
    const uint32_t pairs = FixedPairs ? FixedPairs : table.pairs;
    const __m512i zero = _mm512_setzero_si512();
    if (run * 16 >= table.count) {
        for (uint32_t k = 0; k < Rows; ++k) out[k] = zero;
        return;
    }
    // Bytes 0 and 2 of every 32-bit lane: the two samples of a tap pair as 16-bit words.
    const __mmask64 words = 0x5555555555555555ull;
    const uint32_t available = srcWidth - uint32_t(table.base[run]);
    const __mmask64 inside = available >= 64 ? ~__mmask64(0) : (__mmask64(1) << available) - 1;
    __m512i window[Rows], rests[Rows], wholes[Rows];
    for (uint32_t k = 0; k < Rows; ++k) {
        window[k] = _mm512_maskz_loadu_epi8(inside, src[k] + table.base[run]);
        rests[k] = bias;
        wholes[k] = zero;
    }
    for (uint32_t p = 0; p < pairs; ++p) {
        const size_t at = size_t(run) * pairs + p;
        const __m512i index = _mm512_loadu_si512(&table.index[at * 64]);
        const __m512i rest = _mm512_loadu_si512(&table.rest[at * 16]);
        // Whole parts lie in the middle pair only, the last one; a fixed pair count (up to six
        // taps) nearly always has some, so it takes them without asking.
        const bool hasWhole = p + 1 == pairs && (FixedPairs || table.wholes);
        const __m512i whole = hasWhole ? _mm512_loadu_si512(&table.whole[at * 16]) : zero;
        for (uint32_t k = 0; k < Rows; ++k) {
            const __m512i samples = _mm512_maskz_permutexvar_epi8(words, index, window[k]);
            rests[k] = _mm512_dpwssd_epi32(rests[k], samples, rest);
            if (hasWhole) wholes[k] = _mm512_dpwssd_epi32(wholes[k], samples, whole);
        }
    }
    for (uint32_t k = 0; k < Rows; ++k) out[k] = Combine(rests[k], wholes[k]);
}

// Rows rows at once, so that each run's permute indices and weights are loaded once for all;
// four runs (64 outputs) packed to bytes together, two runs' words at a time. A fixed number of
// tap pairs unrolls the pairs without a branch, which keeps the sums in place across them.
template <uint32_t Rows, uint32_t FixedPairs>
VELTRO_AVX512_VNNI void WindowedRows(const uint8_t* const* src, uint32_t srcWidth, uint8_t* const* dst,
                                     const WindowTable& table, int32_t rounding)
{
    const __m512i bias = _mm512_set1_epi32(rounding);
    // The packs leave run k's outputs 4L..4L+3 in 32-bit lane 4L + k.
    const __m512i runOrder = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    for (uint32_t first = 0; first < table.count; first += 64) {
        const uint32_t run = first / 16;
        __m512i words[2][Rows];
        for (uint32_t half = 0; half < 2; ++half) {
            __m512i even[Rows], odd[Rows];
            RunSums<Rows, FixedPairs>(src, srcWidth, table, run + 2 * half, bias, even);
            RunSums<Rows, FixedPairs>(src, srcWidth, table, run + 2 * half + 1, bias, odd);
            for (uint32_t k = 0; k < Rows; ++k) words[half][k] = _mm512_packs_epi32(even[k], odd[k]);
        }
        const uint32_t n = std::min(64u, table.count - first);
        const __mmask64 mask = n == 64 ? ~__mmask64(0) : (__mmask64(1) << n) - 1;
        for (uint32_t k = 0; k < Rows; ++k) {
            const __m512i bytes = _mm512_packus_epi16(words[0][k], words[1][k]);
            _mm512_mask_storeu_epi8(dst[k] + first, mask, _mm512_permutexvar_epi32(runOrder, bytes));
        }
    }
}

}  // namespace

uint32_t FilterRowsWindowed(const uint8_t* const* src, uint32_t rows, uint32_t srcWidth, uint8_t* const* dst,
                            const WindowTable& table, int32_t rounding)
{
    auto run = [&]<uint32_t Rows>() {
        switch (table.pairs) {
        case 1: return WindowedRows<Rows, 1>(src, srcWidth, dst, table, rounding);
        case 2: return WindowedRows<Rows, 2>(src, srcWidth, dst, table, rounding);
        case 3: return WindowedRows<Rows, 3>(src, srcWidth, dst, table, rounding);
        default: return WindowedRows<Rows, 0>(src, srcWidth, dst, table, rounding);
        }
    };
    if (rows >= 4) {
        run.template operator()<4>();
        return 4;
    }
    run.template operator()<1>();
    return 1;
}
