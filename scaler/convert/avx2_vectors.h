// Vector helpers of the AVX2 row functions; every function here is compiled for AVX2, so only
// the AVX2 row files include this header.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#define AVX2 __attribute__((target("avx2")))

namespace avx2 {

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

}  // namespace avx2
