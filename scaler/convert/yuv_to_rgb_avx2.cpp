// YUV to RGB32 rows with AVX2, 32 pixels per step.
#include "convert/avx2_vectors.h"
#include "convert/color_rows.h"

using namespace avx2;

namespace {

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

}  // namespace

void YuvToRgbRowAvx2(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                     uint32_t bytesPerPixel)
{
    if (bytesPerPixel != 4) return YuvToRgbRowPlain(y, v, u, width, dst, bytesPerPixel);
    const uint32_t groups = width / 32, done = groups * 32;
    YuvToRgb32(y, v, u, groups, dst);
    YuvToRgbRowPlain(y + done, v + done / 2, u + done / 2, width - done, dst + size_t(done) * 4, 4);
}
