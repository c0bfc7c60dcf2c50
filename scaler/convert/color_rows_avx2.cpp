// The AVX2 row set, and its packed 4:2:2 rows into 4:2:0 planes, 32 pixels per step; the
// operations without AVX2 rows of their own use the SSSE3 rows.
#include "convert/avx2_vectors.h"
#include "convert/color_rows.h"

using namespace avx2;

namespace {

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

}  // namespace

void UnpackPacked420RowsAvx2(const uint8_t* src0, const uint8_t* src1, PackedLayout layout, uint32_t width,
                             uint8_t* y0, uint8_t* y1, uint8_t* v, uint8_t* u)
{
    const uint32_t groups = width / 32, done = groups * 32;
    VisitPackedLayout(layout, [&](auto L) { Unpack420<decltype(L)>(src0, src1, groups, y0, y1, v, u); });
    UnpackPacked420Composed<UnpackPackedRowSsse3, AverageRowsSsse3>(src0 + 2 * size_t(done), src1 + 2 * size_t(done),
                                                                    layout, width - done, y0 + done, y1 + done,
                                                                    v + done / 2, u + done / 2);
}

constinit const ColorRowFunctions kAvx2ColorRows = Avx2ColorRows("avx2", YuvToRgbRowAvx2);
