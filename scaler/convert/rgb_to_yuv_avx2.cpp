// RGB to YUV rows with AVX2, 32 pixels per step, into planes or packed 4:2:2 rows.
#include "convert/avx2_vectors.h"
#include "convert/color_rows.h"

using namespace avx2;

namespace {

// Eight pixels as B, G, R, G quads: every pixel's green twice lets one multiply-add of
// unsigned bytes by signed bytes take a coefficient of 129 in two parts. An RGB24 lane reads
// twelve bytes from 0 or 8 bytes into its 24, so nothing past the pixels is read.
template <int Bpp>
constexpr Mask32 QuadMask()
{
    Mask32 m{};
    for (int lane = 0; lane < 2; ++lane)
        for (int j = 0; j < 4; ++j) {
            const int at = Bpp == 4 ? 4 * j : 3 * j + 4 * lane;
            const int order[4] = {0, 1, 2, 1};
            for (int c = 0; c < 4; ++c) m[16 * lane + 4 * j + c] = int8_t(at + order[c]);
        }
    return m;
}

template <int Bpp>
AVX2 inline __m256i LoadQuads(const uint8_t* src, __m256i mask)
{
    if constexpr (Bpp == 4) return _mm256_shuffle_epi8(Load(src), mask);
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), mask);
}

// Weighted sums of two quads' components in 16-bit lanes, modulo 2^16. Per lane: pixels
// 0-3 of a, then 0-3 of b (from the low lanes), | 4-7 of a, 4-7 of b.
AVX2 inline __m256i PixelSums(__m256i a, __m256i b, __m256i k)
{
    return _mm256_hadd_epi16(_mm256_maddubs_epi16(a, k), _mm256_maddubs_epi16(b, k));
}

AVX2 inline __m256i ShiftedBiased(__m256i sums, int16_t bias)
{
    return _mm256_srli_epi16(_mm256_add_epi16(sums, _mm256_set1_epi16(bias)), 8);
}

// The RGB to YUV matrix: Y = ((66R + 129G + 25B + 128) >> 8) + 16 and per pair V = (56Rs -
// 47Gs - 9Bs + 32896) >> 8, U = (-19Rs - 37Gs + 56Bs + 32896) >> 8. Every partial sum fits a
// signed 16-bit lane and every final value 0..65535, so the modular sums and logical shifts
// are exact.
//
// Y of the 32 pixels of q, as bytes in groups of four pixels: per lane 0, 2, 4, 6 | 1, 3, 5, 7.
AVX2 inline __m256i Luma32(const __m256i* q)
{
    const __m256i k = Quads(25, 97, 66, 32);
    constexpr int16_t bias = 128 + (16 << 8);
    return _mm256_packus_epi16(ShiftedBiased(PixelSums(q[0], q[1], k), bias),
                               ShiftedBiased(PixelSums(q[2], q[3], k), bias));
}

// One chroma component of the 16 pairs of q in 16-bit lanes, in the luma's groups: the pair
// sums plus 32896 (0..65535), and the component itself.
AVX2 inline __m256i PairChromaBiased(const __m256i* q, __m256i k)
{
    return Add(_mm256_hadd_epi16(PixelSums(q[0], q[1], k), PixelSums(q[2], q[3], k)), _mm256_set1_epi16(int16_t(32896)));
}
AVX2 inline __m256i PairChroma(const __m256i* q, __m256i k) { return _mm256_srli_epi16(PairChromaBiased(q, k), 8); }

// The 2 x 2 block's component, (S + 65792) >> 9 of both rows' pair sums S = s0 + s1: the
// biased sums a, b of the rows give (a + b) >> 9, their rounded-down average shifted by 8.
AVX2 inline __m256i BlockChroma(const __m256i* q0, const __m256i* q1, __m256i k)
{
    const __m256i a = PairChromaBiased(q0, k), b = PairChromaBiased(q1, k);
    const __m256i lowBit = _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi16(1));
    return _mm256_srli_epi16(_mm256_sub_epi16(_mm256_avg_epu16(a, b), lowBit), 8);
}

// Luma bytes and the 16-bit chroma lanes of the groups order back into memory order.
AVX2 inline void StoreLuma(uint8_t* y, __m256i luma)
{
    Store(y, _mm256_permutevar8x32_epi32(luma, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
}
AVX2 inline void StoreChroma(uint8_t* v, uint8_t* u, __m256i v16, __m256i u16)
{
    // Quarters: V of groups 0, 2, 4, 6 | U of them | V of 1, 3, 5, 7 | U of them.
    const __m256i halves = _mm256_permute4x64_epi64(_mm256_packus_epi16(v16, u16), kQuartersInOrder);
    const __m256i pairsInOrder =
        _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256i ordered = _mm256_shuffle_epi8(halves, pairsInOrder);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_castsi256_si128(ordered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_extracti128_si256(ordered, 1));
}

template <int Bpp>
AVX2 inline void LoadStep(const uint8_t* src, __m256i* q)
{
    static constexpr Mask32 kQuads = QuadMask<Bpp>();
    const __m256i quads = Load(kQuads.data());
    for (int k = 0; k < 4; ++k) q[k] = LoadQuads<Bpp>(src + 8 * Bpp * k, quads);
}

const int8_t kV[4] = {-9, -24, 56, -23}, kU[4] = {56, -18, -19, -19};
AVX2 inline __m256i Coefficients(const int8_t* k) { return Quads(k[0], k[1], k[2], k[3]); }

template <int Bpp>
AVX2 void RgbToYuv(const uint8_t* src, uint32_t groups, uint8_t* y, uint8_t* v, uint8_t* u)
{
    for (uint32_t g = 0; g < groups; ++g, src += 32 * Bpp, y += 32, v += 16, u += 16) {
        __m256i q[4];
        LoadStep<Bpp>(src, q);
        StoreLuma(y, Luma32(q));
        StoreChroma(v, u, PairChroma(q, Coefficients(kV)), PairChroma(q, Coefficients(kU)));
    }
}

template <int Bpp>
AVX2 void RgbToYuv420(const uint8_t* src0, const uint8_t* src1, uint32_t groups, uint8_t* y0, uint8_t* y1,
                      uint8_t* v, uint8_t* u)
{
    for (uint32_t g = 0; g < groups; ++g, src0 += 32 * Bpp, src1 += 32 * Bpp, y0 += 32, y1 += 32, v += 16, u += 16) {
        __m256i a[4], b[4];
        LoadStep<Bpp>(src0, a);
        LoadStep<Bpp>(src1, b);
        StoreLuma(y0, Luma32(a));
        StoreLuma(y1, Luma32(b));
        StoreChroma(v, u, BlockChroma(a, b, Coefficients(kV)), BlockChroma(a, b, Coefficients(kU)));
    }
}



template <int Bpp, class L>
AVX2 void RgbToPacked(const uint8_t* src, uint32_t groups, uint8_t* dst)
{
    for (uint32_t g = 0; g < groups; ++g, src += 32 * Bpp, dst += 64) {
        __m256i q[4];
        LoadStep<Bpp>(src, q);
        const __m256i y = Luma32(q);
        const __m256i v = PairChroma(q, Coefficients(kV)), u = PairChroma(q, Coefficients(kU));
        // The pairs' chroma bytes in memory order, in the same groups as the luma.
        const __m256i chroma = L::u < L::v ? _mm256_or_si256(u, _mm256_slli_epi16(v, 8))
                                           : _mm256_or_si256(v, _mm256_slli_epi16(u, 8));
        const bool lumaFirst = L::y0 == 0;
        const __m256i lo = lumaFirst ? _mm256_unpacklo_epi8(y, chroma) : _mm256_unpacklo_epi8(chroma, y);
        const __m256i hi = lumaFirst ? _mm256_unpackhi_epi8(y, chroma) : _mm256_unpackhi_epi8(chroma, y);
        Store(dst, _mm256_permute4x64_epi64(lo, kQuartersInOrder));
        Store(dst + 32, _mm256_permute4x64_epi64(hi, kQuartersInOrder));
    }
}

}  // namespace

void RgbToYuvRowAvx2(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    RgbToYuvRowBy<32, RgbToYuv<3>, RgbToYuv<4>, RgbToYuvRowSsse3>(src, bytesPerPixel, width, y, v, u);
}

void RgbToYuv420RowsAvx2(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                         uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    RgbToYuv420RowsBy<32, RgbToYuv420<3>, RgbToYuv420<4>, RgbToYuv420RowsSsse3>(src0, src1, bytesPerPixel, width, y0, y1, v, u);
}

void RgbToPackedRowAvx2(const uint8_t* src, uint32_t bytesPerPixel, PackedLayout layout, uint32_t width,
                        uint8_t* dst)
{
    const uint32_t groups = width / 32, done = groups * 32;
    VisitPackedLayout(layout, [&](auto L) {
        bytesPerPixel == 4 ? RgbToPacked<4, decltype(L)>(src, groups, dst) : RgbToPacked<3, decltype(L)>(src, groups, dst);
    });
    RgbToPackedComposed<RgbToYuvRowSsse3, PackPackedRowSsse3>(src + size_t(done) * bytesPerPixel, bytesPerPixel,
                                                               layout, width - done, dst + 2 * size_t(done));
}
