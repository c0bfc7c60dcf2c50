#include "filter_rows.h"

#include <algorithm>

namespace {

inline uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// Fixed = 0 takes the tap count at run time; the fixed counts let the compiler unroll.
template <uint32_t Fixed>
void Horizontal(const uint8_t* src, uint8_t* dst, uint32_t count, uint32_t runtimeTaps, const int32_t* pos,
                const int32_t* w, int32_t rounding)
{
    const uint32_t taps = Fixed ? Fixed : runtimeTaps;
    for (uint32_t j = 0; j < count; ++j, pos += taps, w += taps) {
        int32_t sum = rounding;
        for (uint32_t t = 0; t < taps; ++t) sum += w[t] * src[pos[t]];
        dst[j] = Clamp8(sum >> 16);
    }
}

}  // namespace

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

SimdLevel BestSimdLevel()
{
    return HasAvx512Vnni() ? SimdLevel::kAvx512Vnni
           : HasAvx512()   ? SimdLevel::kAvx512
           : HasAvx2()     ? SimdLevel::kAvx2
                           : SimdLevel::kPlain;
}

void FilterRowHorizontal(const uint8_t* src, uint8_t* dst, uint32_t count, const TapTable& table, int32_t rounding)
{
    const int32_t* pos = table.position.data();
    const int32_t* w = table.weight.data();
    switch (table.taps) {
    case 2: return Horizontal<2>(src, dst, count, 2, pos, w, rounding);
    case 4: return Horizontal<4>(src, dst, count, 4, pos, w, rounding);
    case 6: return Horizontal<6>(src, dst, count, 6, pos, w, rounding);
    default: return Horizontal<0>(src, dst, count, table.taps, pos, w, rounding);
    }
}

namespace {

// One body, compiled twice: for the baseline and for AVX2 (wider vectors). The choice is made
// at the first call rather than by an ifunc resolver, which would run before a sanitizer is
// ready.
// Fixed tap counts keep the whole sum in registers, column by column; any other count adds
// two taps at a time into a row of sums. The order of integer additions does not change the
// result.
template <uint32_t Fixed>
__attribute__((always_inline)) inline void VerticalTaps(const uint8_t* const* rows, const int32_t* weights,
                                                         uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    const uint8_t* r[Fixed];
    int32_t w[Fixed];
    for (uint32_t t = 0; t < Fixed; ++t) r[t] = rows[t], w[t] = weights[t];
    for (uint32_t c = first; c < last; ++c) {
        int32_t sum = rounding;
        for (uint32_t t = 0; t < Fixed; ++t) sum += w[t] * r[t][c];
        dst[c] = Clamp8(sum >> 16);
    }
}

__attribute__((always_inline)) inline void VerticalBody(const uint8_t* const* rows, const int32_t* weights,
                                                         uint32_t taps, uint8_t* dst, uint32_t first, uint32_t last,
                                                         int32_t rounding)
{
    switch (taps) {
    case 2: return VerticalTaps<2>(rows, weights, dst, first, last, rounding);
    case 4: return VerticalTaps<4>(rows, weights, dst, first, last, rounding);
    case 6: return VerticalTaps<6>(rows, weights, dst, first, last, rounding);
    default: break;
    }
    int32_t sums[256];
    for (uint32_t c0 = first; c0 < last; c0 += 256) {
        uint32_t n = std::min<uint32_t>(256, last - c0);
        const uint8_t* r0 = rows[0] + c0;
        int32_t w0 = weights[0];
        for (uint32_t c = 0; c < n; ++c) sums[c] = rounding + w0 * r0[c];
        uint32_t t = 1;
        for (; t + 1 < taps; t += 2) {
            const uint8_t* a = rows[t] + c0;
            const uint8_t* b = rows[t + 1] + c0;
            int32_t wa = weights[t], wb = weights[t + 1];
            for (uint32_t c = 0; c < n; ++c) sums[c] += wa * a[c] + wb * b[c];
        }
        if (t < taps) {
            const uint8_t* a = rows[t] + c0;
            int32_t wa = weights[t];
            for (uint32_t c = 0; c < n; ++c) sums[c] += wa * a[c];
        }
        for (uint32_t c = 0; c < n; ++c) dst[c0 + c] = Clamp8(sums[c] >> 16);
    }
}

__attribute__((target("avx2"))) void VerticalAvx2(const uint8_t* const* rows, const int32_t* weights, uint32_t taps,
                                                  uint8_t* dst, uint32_t first, uint32_t last, int32_t rounding)
{
    first = FilterColumnsVerticalAvx2(rows, weights, taps, dst, first, last, rounding);
    VerticalBody(rows, weights, taps, dst, first, last, rounding);
}

void VerticalBaseline(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                      uint32_t first, uint32_t last, int32_t rounding)
{
    VerticalBody(rows, weights, taps, dst, first, last, rounding);
}

}  // namespace

void FilterRowVertical(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst, uint32_t first,
                       uint32_t last, int32_t rounding, SimdLevel level)
{
    switch (level) {
    case SimdLevel::kAvx512Vnni: return FilterColumnsVerticalVnni(rows, weights, taps, dst, first, last, rounding);
    case SimdLevel::kAvx512: return FilterColumnsVerticalAvx512(rows, weights, taps, dst, first, last, rounding);
    case SimdLevel::kAvx2: return VerticalAvx2(rows, weights, taps, dst, first, last, rounding);
    case SimdLevel::kPlain: return VerticalBaseline(rows, weights, taps, dst, first, last, rounding);
    }
}
