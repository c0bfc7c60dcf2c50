// Per-axis filter description shared by the resamplers: for every destination position a fixed
// number of source positions (already clamped into the plane) and 16.16 fixed-point weights.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TapTable {
    uint32_t taps = 0;
    std::vector<int32_t> position;  // count * taps source columns (or rows)
    std::vector<int32_t> weight;    // count * taps, 1.0 = 65536

    // Every weight splits into two 16-bit halves for the vector paths (SplitsIntoHalves); set
    // by CheckPairs once the weights are in.
    bool pairs = false;
    void CheckPairs();

    void Resize(uint32_t count, uint32_t tapCount)
    {
        pairs = false;
        taps = tapCount;
        position.assign(size_t(count) * tapCount, 0);
        weight.assign(size_t(count) * tapCount, 0);
    }
    const int32_t* PositionsOf(uint32_t i) const { return &position[size_t(i) * taps]; }
    const int32_t* WeightsOf(uint32_t i) const { return &weight[size_t(i) * taps]; }
    int32_t* PositionsOf(uint32_t i) { return &position[size_t(i) * taps]; }
    int32_t* WeightsOf(uint32_t i) { return &weight[size_t(i) * taps]; }
};

// Fixed point with 16 fractional bits, truncated toward zero after adding one half.
inline int32_t FixedWeight(double w) { return static_cast<int32_t>(w * 65536 + 0.5); }

// Rounding added before the final shift: the bilinear kernel truncates, the others round.
constexpr int32_t kTruncate = 0;
constexpr int32_t kRoundHalf = 0x8000;

// A weight in [-2^23, 2^23) is 256 * (w >> 8) + (w & 255) with both halves 16-bit operands.
inline bool SplitsIntoHalves(int32_t w) { return w >= -(1 << 23) && w < (1 << 23); }

// The vector paths' other split, valid for every weight: w = r + 65536 c with r the low 16 bits
// read as signed, so that s * w = s * r + 65536 (s * c) and
//   (sum of s * w + rounding) >> 16 = (sum of s * c) + ((sum of s * r + rounding) >> 16).
// That holds when neither the whole sum nor the sum of the rests overflows 32 bits, which taps
// whose magnitudes add up to less than 2^23 guarantee for samples up to 255.
inline int32_t RestOf(int32_t w) { return int16_t(uint16_t(w)); }
inline int32_t WholeOf(int32_t w) { return (w - RestOf(w)) >> 16; }
inline bool SplitSumsFit(const int32_t* w, uint32_t taps)
{
    if (taps > 255) return false;
    int64_t magnitude = 0;
    for (uint32_t t = 0; t < taps; ++t) magnitude += w[t] < 0 ? -int64_t(w[t]) : w[t];
    return magnitude < (int64_t(1) << 23);
}

inline void TapTable::CheckPairs()
{
    pairs = true;
    for (int32_t w : weight) pairs = pairs && SplitsIntoHalves(w);
}
