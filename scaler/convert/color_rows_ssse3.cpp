// SSSE3 row functions: byte shuffles for the packed 4:2:2 layouts and the RGB components, and
// the RGB to YUV matrix in 16-bit lanes. Every product and sum of the matrix is formed modulo
// 2^16 and its final value lies in 0..65535, so the logical shifts give the reference's bytes.
// Whole groups of 16 pixels run here; the rest of a row goes to the reference.
#include <immintrin.h>

#include <array>

#include "convert/color_rows.h"

#define SSSE3 __attribute__((target("ssse3")))

namespace {

using Mask = std::array<int8_t, 16>;

// Shuffle mask that takes byte `first + i * step` of a 16 * vectors byte block for output
// byte i, from the block's vector `vector` (other lanes zero).
constexpr Mask Gather(int first, int step, int vector)
{
    Mask m{};
    for (int i = 0; i < 16; ++i) {
        const int at = first + i * step;
        m[i] = at / 16 == vector ? int8_t(at % 16) : int8_t(-1);
    }
    return m;
}

SSSE3 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
SSSE3 inline __m128i MaskOf(const Mask& m) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data())); }

// Byte `First + i * Step` for i in [0, 16) of the Vectors * 16 bytes at src.
template <int Vectors, int First, int Step>
SSSE3 inline __m128i GatherBytes(const uint8_t* src)
{
    static constexpr Mask masks[4] = {Gather(First, Step, 0), Gather(First, Step, 1), Gather(First, Step, 2),
                                      Gather(First, Step, 3)};
    __m128i out = _mm_shuffle_epi8(Load(src), MaskOf(masks[0]));
    for (int k = 1; k < Vectors; ++k) out = _mm_or_si128(out, _mm_shuffle_epi8(Load(src + 16 * k), MaskOf(masks[k])));
    return out;
}

template <int Y0, int U, int Y1, int V>
SSSE3 void Unpack(const uint8_t* src, uint32_t groups, uint8_t* y, uint8_t* v, uint8_t* u)
{
    // Luma sits at Y0, Y0 + 2, ... in every layout (Y1 = Y0 + 2).
    static_assert(Y1 == Y0 + 2);
    static constexpr Mask luma[2] = {Gather(Y0, 2, 0), Gather(Y0, 2, 1)};
    static constexpr Mask uMask[2] = {Gather(U, 4, 0), Gather(U, 4, 1)}, vMask[2] = {Gather(V, 4, 0), Gather(V, 4, 1)};
    for (uint32_t g = 0; g < groups; ++g, src += 32, y += 16, u += 8, v += 8) {
        const __m128i a = Load(src), b = Load(src + 16);
        const __m128i luma16 = _mm_or_si128(_mm_shuffle_epi8(a, MaskOf(luma[0])), _mm_shuffle_epi8(b, MaskOf(luma[1])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y), luma16);
        const __m128i uu = _mm_or_si128(_mm_shuffle_epi8(a, MaskOf(uMask[0])), _mm_shuffle_epi8(b, MaskOf(uMask[1])));
        const __m128i vv = _mm_or_si128(_mm_shuffle_epi8(a, MaskOf(vMask[0])), _mm_shuffle_epi8(b, MaskOf(vMask[1])));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u), uu);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v), vv);
    }
}

template <int Y0, int U, int Y1, int V>
SSSE3 void Pack(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t groups, uint8_t* dst)
{
    for (uint32_t g = 0; g < groups; ++g, y += 16, u += 8, v += 8, dst += 32) {
        const __m128i luma = Load(y);
        const __m128i uu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u));
        const __m128i vv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v));
        // Chroma pairs in memory order, then luma before or after each chroma byte.
        const __m128i chroma = U < V ? _mm_unpacklo_epi8(uu, vv) : _mm_unpacklo_epi8(vv, uu);
        const bool lumaFirst = Y0 == 0;
        const __m128i lo = lumaFirst ? _mm_unpacklo_epi8(luma, chroma) : _mm_unpacklo_epi8(chroma, luma);
        const __m128i hi = lumaFirst ? _mm_unpackhi_epi8(luma, chroma) : _mm_unpackhi_epi8(chroma, luma);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), hi);
    }
}

// Components B, G, R of 16 pixels of Bpp bytes as bytes.
template <int Bpp>
struct Pixels16 {
    __m128i b, g, r;
    SSSE3 explicit Pixels16(const uint8_t* src)
        : b(GatherBytes<Bpp, 0, Bpp>(src)), g(GatherBytes<Bpp, 1, Bpp>(src)), r(GatherBytes<Bpp, 2, Bpp>(src))
    {
    }
};

// ((66R + 129G + 25B + 128) >> 8) + 16 for 8 pixels in 16-bit lanes.
SSSE3 inline __m128i Luma8(__m128i r, __m128i g, __m128i b)
{
    __m128i sum = _mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(66)), _mm_mullo_epi16(g, _mm_set1_epi16(129)));
    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(25)), _mm_set1_epi16(128)));
    return _mm_add_epi16(_mm_srli_epi16(sum, 8), _mm_set1_epi16(16));
}

SSSE3 inline __m128i Luma16(__m128i r, __m128i g, __m128i b)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = Luma8(_mm_unpacklo_epi8(r, zero), _mm_unpacklo_epi8(g, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi = Luma8(_mm_unpackhi_epi8(r, zero), _mm_unpackhi_epi8(g, zero), _mm_unpackhi_epi8(b, zero));
    return _mm_packus_epi16(lo, hi);
}

SSSE3 inline __m128i PairSums(__m128i bytes) { return _mm_maddubs_epi16(bytes, _mm_set1_epi8(1)); }

SSSE3 inline __m128i Dot(__m128i a, int16_t ka, __m128i b, int16_t kb, __m128i c, int16_t kc)
{
    return _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, _mm_set1_epi16(ka)), _mm_mullo_epi16(b, _mm_set1_epi16(kb))),
                         _mm_mullo_epi16(c, _mm_set1_epi16(kc)));
}

SSSE3 inline void StoreChroma(__m128i v16, __m128i u16, uint8_t* v, uint8_t* u)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v), _mm_packus_epi16(v16, v16));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u), _mm_packus_epi16(u16, u16));
}

template <int Bpp>
SSSE3 void RgbToYuv(const uint8_t* src, uint32_t groups, uint8_t* y, uint8_t* v, uint8_t* u)
{
    const __m128i bias = _mm_set1_epi16(int16_t(32896));
    for (uint32_t g = 0; g < groups; ++g, src += 16 * Bpp, y += 16, v += 8, u += 8) {
        const Pixels16<Bpp> px(src);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y), Luma16(px.r, px.g, px.b));
        const __m128i rs = PairSums(px.r), gs = PairSums(px.g), bs = PairSums(px.b);
        StoreChroma(_mm_srli_epi16(_mm_add_epi16(Dot(rs, 56, gs, -47, bs, -9), bias), 8),
                    _mm_srli_epi16(_mm_add_epi16(Dot(rs, -19, gs, -37, bs, 56), bias), 8), v, u);
    }
}

// The 2 x 2 sums reach 1020, so (S + 65792) >> 9 does not fit 16 bits; it equals
// (32896 + floor(S / 2)) >> 8, and floor(S / 2) splits into even coefficients plus a halved
// sum: floor((56R - 47G - 9B) / 2) = 28R - 24G - 5B + ((G + B) >> 1) and
// floor((-19R - 37G + 56B) / 2) = -10R - 19G + 28B + ((R + G) >> 1).
template <int Bpp>
SSSE3 void RgbToYuv420(const uint8_t* src0, const uint8_t* src1, uint32_t groups, uint8_t* y0, uint8_t* y1,
                       uint8_t* v, uint8_t* u)
{
    const __m128i bias = _mm_set1_epi16(int16_t(32896));
    for (uint32_t g = 0; g < groups; ++g, src0 += 16 * Bpp, src1 += 16 * Bpp, y0 += 16, y1 += 16, v += 8, u += 8) {
        const Pixels16<Bpp> a(src0), b(src1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y0), Luma16(a.r, a.g, a.b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y1), Luma16(b.r, b.g, b.b));
        const __m128i rs = _mm_add_epi16(PairSums(a.r), PairSums(b.r));
        const __m128i gs = _mm_add_epi16(PairSums(a.g), PairSums(b.g));
        const __m128i bs = _mm_add_epi16(PairSums(a.b), PairSums(b.b));
        const __m128i vHalf = _mm_add_epi16(Dot(rs, 28, gs, -24, bs, -5), _mm_srli_epi16(_mm_add_epi16(gs, bs), 1));
        const __m128i uHalf = _mm_add_epi16(Dot(rs, -10, gs, -19, bs, 28), _mm_srli_epi16(_mm_add_epi16(rs, gs), 1));
        StoreChroma(_mm_srli_epi16(_mm_add_epi16(vHalf, bias), 8), _mm_srli_epi16(_mm_add_epi16(uHalf, bias), 8), v, u);
    }
}

// (a + b) >> 1 rounded down: the rounding-up average minus the dropped low bit.
SSSE3 void Average(const uint8_t* a, const uint8_t* b, uint32_t groups, uint8_t* dst)
{
    const __m128i one = _mm_set1_epi8(1);
    for (uint32_t g = 0; g < groups; ++g, a += 16, b += 16, dst += 16) {
        const __m128i x = Load(a), y = Load(b);
        const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(x, y), _mm_and_si128(_mm_xor_si128(x, y), one));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), avg);
    }
}

}  // namespace

void RgbToYuvRowSsse3(const uint8_t* src, uint32_t bytesPerPixel, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    RgbToYuvRowBy<16, RgbToYuv<3>, RgbToYuv<4>, RgbToYuvRowPlain>(src, bytesPerPixel, width, y, v, u);
}

void RgbToYuv420RowsSsse3(const uint8_t* src0, const uint8_t* src1, uint32_t bytesPerPixel, uint32_t width,
                          uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    RgbToYuv420RowsBy<16, RgbToYuv420<3>, RgbToYuv420<4>, RgbToYuv420RowsPlain>(src0, src1, bytesPerPixel, width, y0, y1, v, u);
}

void UnpackPackedRowSsse3(const uint8_t* src, PackedLayout layout, uint32_t width, uint8_t* y, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / 16, done = groups * 16;
    VisitPackedLayout(layout, [&](auto L) { Unpack<L.y0, L.u, L.y1, L.v>(src, groups, y, v, u); });
    UnpackPackedRowPlain(src + 2 * size_t(done), layout, width - done, y + done, v + done / 2, u + done / 2);
}

void PackPackedRowSsse3(const uint8_t* y, const uint8_t* v, const uint8_t* u, PackedLayout layout, uint32_t width,
                        uint8_t* dst)
{
    const uint32_t groups = width / 16, done = groups * 16;
    VisitPackedLayout(layout, [&](auto L) { Pack<L.y0, L.u, L.y1, L.v>(y, v, u, groups, dst); });
    PackPackedRowPlain(y + done, v + done / 2, u + done / 2, layout, width - done, dst + 2 * size_t(done));
}

void AverageRowsSsse3(const uint8_t* a, const uint8_t* b, uint32_t count, uint8_t* dst)
{
    const uint32_t groups = count / 16, done = groups * 16;
    Average(a, b, groups, dst);
    AverageRowsPlain(a + done, b + done, count - done, dst + done);
}

const ColorRowFunctions kSsse3ColorRows{"ssse3",
                                        UnpackPackedRowSsse3,
                                        PackPackedRowSsse3,
                                        UnpackPacked420Composed<UnpackPackedRowSsse3, AverageRowsSsse3>,
                                        RgbToYuvRowSsse3,
                                        RgbToPackedComposed<RgbToYuvRowSsse3, PackPackedRowSsse3>,
                                        RgbToYuv420RowsSsse3,
                                        YuvToRgbRowPlain,
                                        AverageRowsSsse3};
