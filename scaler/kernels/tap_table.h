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

inline void TapTable::CheckPairs()
{
    pairs = true;
    for (int32_t w : weight) pairs = pairs && SplitsIntoHalves(w);
}
