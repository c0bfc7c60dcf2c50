// AVX2 row functions, 32 pixels per step: packed 4:2:2 rows into 4:2:0 planes, RGB into
// packed 4:2:2 rows and YUV to RGB32, each with the reference's integer arithmetic; the other
// operations use the SSSE3 rows.
#include <immintrin.h>

#include <array>

#include "convert/color_rows.h"

#define AVX2 __attribute__((target("avx2")))

namespace {

using Mask32 = std::array<int8_t, 32>;

AVX2 inline __m256i Load(const void* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
AVX2 inline __m256i Load8x32(const int* p) { return Load(p); }
AVX2 inline __m256i Times(__m256i a, int16_t k) { return _mm256_mullo_epi16(a, _mm256_set1_epi16(k)); }
AVX2 inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
AVX2 inline void Store(void* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
AVX2 inline __m256i Quads(int8_t a, int8_t b, int8_t c, int8_t d)
{
    return _mm256_set1_epi32(int32_t(uint8_t(a) | uint8_t(b) << 8 | uint8_t(c) << 16 | uint32_t(uint8_t(d)) << 24));
}
// 64-bit quarters 0, 2, 1, 3: undoes the lane split of unpack and pack instructions.
constexpr int kQuartersInOrder = 0xD8;

// Per 128-bit lane of eight pixels: the eight luma bytes, then U of the four pairs, then V.
template <class L>
constexpr Mask32 SplitMask()
{
    Mask32 m{};
    for (int lane = 0; lane < 2; ++lane)
        for (int k = 0; k < 8; ++k) {
            m[16 * lane + k] = int8_t(L::y0 + 2 * k);
            if (k < 4) m[16 * lane + 8 + k] = int8_t(L::u + 4 * k), m[16 * lane + 12 + k] = int8_t(L::v + 4 * k);
        }
    return m;
}

// (a + b) >> 1 per byte: the rounding-up average minus the dropped low bit.
AVX2 inline __m256i FloorAverage(__m256i a, __m256i b)
{
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

template <class L>
AVX2 void Unpack420(const uint8_t* src0, const uint8_t* src1, uint32_t groups, uint8_t* y0, uint8_t* y1, uint8_t* v,
                    uint8_t* u)
{
    static constexpr Mask32 kSplit = SplitMask<L>();
    const __m256i split = Load(kSplit.data());
    const __m256i chromaOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (uint32_t g = 0; g < groups; ++g, src0 += 64, src1 += 64, y0 += 32, y1 += 32, v += 16, u += 16) {
        const __m256i a0 = _mm256_shuffle_epi8(Load(src0), split), a1 = _mm256_shuffle_epi8(Load(src0 + 32), split);
        const __m256i b0 = _mm256_shuffle_epi8(Load(src1), split), b1 = _mm256_shuffle_epi8(Load(src1 + 32), split);
        Store(y0, _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(a0, a1), kQuartersInOrder));
        Store(y1, _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(b0, b1), kQuartersInOrder));
        // Per lane U then V of four pairs, from pixels 0-7, 8-15 | 16-23, 24-31.
        const __m256i chroma = _mm256_unpackhi_epi32(FloorAverage(a0, b0), FloorAverage(a1, b1));
        const __m256i ordered = _mm256_permutevar8x32_epi32(chroma, chromaOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_castsi256_si128(ordered));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_extracti128_si256(ordered, 1));
    }
}

void UnpackPacked420RowsAvx2(const uint8_t* src0, const uint8_t* src1, PackedLayout layout, uint32_t width,
                             uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / 32, done = groups * 32;
    VisitPackedLayout(layout, [&](auto L) { Unpack420<decltype(L)>(src0, src1, groups, y0, y1, v, u); });
    UnpackPacked420Composed<UnpackPackedRowSsse3, AverageRowsSsse3>(src0 + 2 * size_t(done), src1 + 2 * size_t(done),
                                                                    layout, width - done, y0 + done, y1 + done,
                                                                    v + done / 2, u + done / 2);
}

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

void RgbToYuvRowAvx2(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / 32, done = groups * 32;
    bytesPerPixel == 4 ? RgbToYuv<4>(src, groups, y, v, u) : RgbToYuv<3>(src, groups, y, v, u);
    RgbToYuvRowSsse3(src + size_t(done) * bytesPerPixel, bytesPerPixel, width - done, y + done, v + done / 2,
                     u + done / 2);
}

void RgbToYuv420RowsAvx2(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                         uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / 32, done = groups * 32;
    bytesPerPixel == 4 ? RgbToYuv420<4>(src0, src1, groups, y0, y1, v, u)
                       : RgbToYuv420<3>(src0, src1, groups, y0, y1, v, u);
    const size_t skip = size_t(done) * bytesPerPixel;
    RgbToYuv420RowsSsse3(src0 + skip, src1 + skip, bytesPerPixel, width - done, y0 + done, y1 + done, v + done / 2,
                         u + done / 2);
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

// The 32 pixels of a step in 16-bit lanes, even and odd pixels in two vectors, so that every
// lane's chroma pair serves the same lane of both: per lane the pairs 0, 1, 4, 5, 8, 9, 12, 13 |
// 2, 3, 6, 7, 10, 11, 14, 15. Packed back to bytes and the pixels of each lane put in order,
// that is groups of four pixels 0, 2, 4, 6 | 1, 3, 5, 7, which the byte and word interleaves
// turn into whole pixels in memory order without crossing lanes.
constexpr int kGroupsSpread[8] = {0, 2, 4, 6, 1, 3, 5, 7};

AVX2 inline __m256i Spread(__m256i v) { return _mm256_permutevar8x32_epi32(v, Load8x32(kGroupsSpread)); }

// Chroma sample - 128 of the 16 pairs in 16-bit lanes.
AVX2 inline __m256i SpreadChroma(const uint8_t* c)
{
    const __m256i words = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
    return Spread(_mm256_sub_epi16(words, _mm256_set1_epi16(128)));
}


// One component of the even and odd pixels, ((base + inner) >> 8) + c + outer, clamped to
// bytes in pixel order.
AVX2 inline __m256i Component(const __m256i* c, const __m256i* base, __m256i inner, __m256i outer)
{
    const __m256i pixelOrder =
        _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    __m256i v[2];
    for (int h = 0; h < 2; ++h) v[h] = Add(Add(_mm256_srai_epi16(Add(base[h], inner), 8), c[h]), outer);
    return _mm256_shuffle_epi8(_mm256_packus_epi16(v[0], v[1]), pixelOrder);
}

// With C = Y - 16 (the 298 of the reference split as 256 + 42, and 516 = 512 + 4,
// -208 = -256 + 48, 409 = 512 - 103), every term stays within 16 bits:
//   B = C + 2D + ((42C + 4D + 128) >> 8)
//   G = C - E + ((42C - 100D + 48E + 128) >> 8)
//   R = C + 2E + ((42C - 103E + 128) >> 8)
// which are the reference's floors exactly, since the whole multiples of 256 leave the shift.
// The fourth byte of each pixel keeps what the buffer held.
AVX2 void YuvToRgb32(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t groups, uint8_t* dst)
{
    const __m256i keep = _mm256_set1_epi32(int32_t(0xFF000000u));
    for (uint32_t g = 0; g < groups; ++g, y += 32, u += 16, v += 16, dst += 128) {
        const __m256i luma = Spread(Load(y));
        __m256i c[2] = {_mm256_and_si256(luma, _mm256_set1_epi16(0xFF)), _mm256_srli_epi16(luma, 8)};
        __m256i base[2];
        for (int h = 0; h < 2; ++h) {
            c[h] = _mm256_sub_epi16(c[h], _mm256_set1_epi16(16));
            base[h] = Add(Times(c[h], 42), _mm256_set1_epi16(128));
        }
        const __m256i d = SpreadChroma(u), e = SpreadChroma(v);
        const __m256i b = Component(c, base, _mm256_slli_epi16(d, 2), Add(d, d));
        const __m256i gr = Component(c, base, Add(Times(d, -100), Times(e, 48)), _mm256_sub_epi16(_mm256_setzero_si256(), e));
        const __m256i r = Component(c, base, Times(e, -103), Add(e, e));
        const __m256i bg[2] = {_mm256_unpacklo_epi8(b, gr), _mm256_unpackhi_epi8(b, gr)};
        const __m256i rr[2] = {_mm256_unpacklo_epi8(r, r), _mm256_unpackhi_epi8(r, r)};
        __m256i* out = reinterpret_cast<__m256i*>(dst);
        for (int h = 0; h < 2; ++h) {
            const __m256i px[2] = {_mm256_unpacklo_epi16(bg[h], rr[h]), _mm256_unpackhi_epi16(bg[h], rr[h])};
            for (int k = 0; k < 2; ++k)
                _mm256_storeu_si256(out + 2 * h + k, _mm256_blendv_epi8(px[k], _mm256_loadu_si256(out + 2 * h + k), keep));
        }
    }
}

void YuvToRgbRowAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                     uint32_t bytesPerPixel)
{
    if (bytesPerPixel != 4) return YuvToRgbRowPlain(y, v, u, width, dst, bytesPerPixel);
    const uint32_t groups = width / 32, done = groups * 32;
    YuvToRgb32(y, v, u, groups, dst);
    YuvToRgbRowPlain(y + done, v + done / 2, u + done / 2, width - done, dst + size_t(done) * 4, 4);
}

}  // namespace

const ColorRowFunctions kAvx2ColorRows{"avx2",
                                       UnpackPackedRowSsse3,
                                       PackPackedRowSsse3,
                                       UnpackPacked420RowsAvx2,
                                       RgbToYuvRowAvx2,
                                       RgbToPackedRowAvx2,
                                       RgbToYuv420RowsAvx2,
                                       YuvToRgbRowAvx2,
                                       AverageRowsSsse3};
