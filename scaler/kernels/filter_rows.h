// Row functions of the two passes. Each output sample is
//   clamp((sum of weight * sample + rounding) >> 16, 0, 255)
// in 32-bit integers, which is the bilinear rule (non-negative weights, no rounding) as well as
// the bicubic and Lanczos rule (signed weights, rounding half, clamped).
#pragma once

#include <cstdint>

#include "tap_table.h"

// dst[j] for j in [0, count) from one source row through the horizontal table.
void FilterRowHorizontal(const uint8_t* src, uint8_t* dst, uint32_t count, const TapTable& table, int32_t rounding);

// Eight rows at once: src[0..7] rows of srcWidth samples into dst[0..7]. Needs AVX2
// (HasAvx2); the result equals eight FilterRowHorizontal calls.
void FilterRowsHorizontalAvx2(const uint8_t* const* src, uint8_t* const* dst, uint32_t srcWidth, uint32_t count,
                              const TapTable& table, int32_t rounding);
bool HasAvx2();
// The AVX2 part of FilterRowVertical for 2, 4 or 6 taps: whole groups of 16 columns from
// `first`; returns the first column it left (first itself for other tap counts).
uint32_t FilterColumnsVerticalAvx2(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                                   uint32_t first, uint32_t last, int32_t rounding);

// dst[c] for c in [first, last) from the intermediate rows named by `rows` with `weights`.
void FilterRowVertical(const uint8_t* const* rows, const int32_t* weights, uint32_t taps, uint8_t* dst,
                       uint32_t first, uint32_t last, int32_t rounding);
