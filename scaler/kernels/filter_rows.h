// Row functions of the two passes. Each output sample is
//   clamp((sum of weight * sample + rounding) >> 16, 0, 255)
// in 32-bit integers, which is the bilinear rule (non-negative weights, no rounding) as well as
// the bicubic and Lanczos rule (signed weights, rounding half, clamped).
#pragma once

#include <cstdint>
#include <vector>

#include "tap_table.h"

// The widest vector instructions the row functions may use; kAvx512Vnni adds the byte permutes
// (VBMI) and the 16-bit dot products (VNNI).
enum class SimdLevel : uint8_t { kPlain, kAvx2, kAvx512, kAvx512Vnni };
bool HasAvx2();
bool HasAvx512();
bool HasAvx512Vnni();
// The widest level this processor runs.
SimdLevel BestSimdLevel();

// dst[j] for j in [0, count) from one source row through the horizontal table.
void FilterRowHorizontal(const uint8_t* src, uint8_t* dst, uint32_t count, const TapTable& table, int32_t rounding);

// Eight (AVX2) or sixteen (AVX-512) rows at once: src[r] rows of srcWidth samples into dst[r].
// The result equals FilterRowHorizontal on each row.
void FilterRowsHorizontalAvx2(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                              const TapTable& table, int32_t rounding);
void FilterRowsHorizontalAvx512(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                                const TapTable& table, int32_t rounding);

// The vector parts of FilterRowVertical. AVX2 does 2, 4 or 6 taps in whole groups of 16
// columns from `first` and returns the first column it left (first itself for other tap
// counts); AVX-512 does the whole range for any tap count.
uint32_t FilterColumnsVerticalAvx2(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                                   uint32_t first, uint32_t last, int32_t rounding);
void FilterColumnsVerticalAvx512(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                                 uint32_t first, uint32_t last, int32_t rounding);
// The same with byte permutes and 16-bit dot products (kAvx512Vnni).
void FilterColumnsVerticalVnni(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                               uint32_t first, uint32_t last, int32_t rounding);

// dst[c] for c in [first, last) from the intermediate rows named by `rows` with `weights`, with
// vector instructions up to `level` (which the processor must run).
void FilterRowVertical(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                       uint32_t first, uint32_t last, int32_t rounding, SimdLevel level);

// Rows through the horizontal table sixteen outputs at a time, each sixteen gathered by byte
// permutes from one 64-byte window of the source and summed by 16-bit dot products
// (kAvx512Vnni), without the row blocks' interleaving. Build answers false for a table whose
// sums the split weights cannot carry (SplitSumsFit), with whole parts outside the middle pair
// of taps, or where a run of sixteen outputs reads 64 or more consecutive samples.
struct WindowTable {
    uint32_t count = 0, pairs = 0;
    std::vector<int32_t> base;     // per run: the window's first source sample
    std::vector<uint8_t> index;    // per run and tap pair: 64 permute indices
    std::vector<int32_t> rest, whole;  // per run and tap pair: 16 word pairs (RestPair, WholePair)
    bool wholes = false;               // any whole part not zero (in the middle pair only)
    bool Build(const TapTable& table, uint32_t count);
};
// Four of the `rows` rows src[k] into dst[k] when there are four, else one; returns how many.
uint32_t FilterRowsWindowed(const uint8_t* const* src, uint32_t rows, uint32_t srcWidth, uint8_t* const* dst,
                            const WindowTable& table, int32_t rounding);
