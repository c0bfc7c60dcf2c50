// YUV to RGB32 rows with AVX-512 (BW and VBMI), 64 pixels per step.
#include <immintrin.h>

#include <algorithm>
#include <array>

#include "convert/color_rows.h"

#define AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,prfchw")))

namespace {

// The arithmetic runs on 16-bit lanes, even and odd pixels in two vectors so that lane j of
// both is served by chroma pair j. Packing a component's two vectors to bytes leaves in each
// 16-byte lane k the even pixels 16k, 16k + 2, ... 16k + 14 and then the odd ones; PackedAt
// gives the byte of pixel p there.
constexpr int PackedAt(int p) { return (p & ~15) + (p & 1) * 8 + (p & 15) / 2; }

// Byte permutes (vpermt2b: indices 0-63 pick from the first vector, 64-127 from the second).
using Indices = std::array<uint8_t, 64>;

// U and V of pair j as the two bytes of word j.
constexpr Indices ChromaPairs()
{
    Indices t{};
    for (int j = 0; j < 32; ++j) t[2 * j] = uint8_t(j), t[2 * j + 1] = uint8_t(64 + j);
    return t;
}

// B and G of pixels `first` .. first + 31 as the two bytes of word q, from the packed B and G.
constexpr Indices BlueGreen(int first)
{
    Indices t{};
    for (int q = 0; q < 32; ++q)
        t[2 * q] = uint8_t(PackedAt(first + q)), t[2 * q + 1] = uint8_t(64 + PackedAt(first + q));
    return t;
}

// Pixels 16m .. 16m + 15 in memory order: B and G from the words of BlueGreen(32 * (m / 2)),
// R from the packed R; the fourth byte is never stored.
constexpr Indices Pixels(int m)
{
    Indices t{};
    for (int r = 0; r < 16; ++r) {
        const int q = (m & 1) * 16 + r;
        t[4 * r] = uint8_t(2 * q);
        t[4 * r + 1] = uint8_t(2 * q + 1);
        t[4 * r + 2] = uint8_t(64 + PackedAt(16 * m + r));
    }
    return t;
}

constexpr Indices kChromaPairs = ChromaPairs();
constexpr Indices kBlueGreen[2] = {BlueGreen(0), BlueGreen(32)};
constexpr Indices kPixels[4] = {Pixels(0), Pixels(1), Pixels(2), Pixels(3)};
constexpr __mmask64 kColourBytes = 0x7777777777777777ull;
constexpr uint32_t kAhead = 4;  // steps

AVX512 inline __m512i Load(const Indices& t) { return _mm512_loadu_si512(t.data()); }
AVX512 inline __m512i Words(int16_t k) { return _mm512_set1_epi16(k); }
AVX512 inline __m512i Add(__m512i a, __m512i b) { return _mm512_add_epi16(a, b); }
// a * first + b * second byte of each word, the bytes unsigned (the sums here stay within 16
// bits).
AVX512 inline __m512i Weigh(__m512i bytes, int8_t a, int8_t b)
{
    return _mm512_maddubs_epi16(bytes, _mm512_set1_epi16(int16_t(uint8_t(a) | uint8_t(b) << 8)));
}
// The same with signed bytes and unsigned weights.
AVX512 inline __m512i WeighSigned(__m512i bytes, uint8_t a, uint8_t b)
{
    return _mm512_maddubs_epi16(_mm512_set1_epi16(int16_t(a | b << 8)), bytes);
}

// One component of the even and odd pixels, Y + outer + ((42 Y + inner) >> 8), clamped and
// packed to bytes; the sum before the shift is a signed 16-bit number, or an unsigned one for
// a logical shift.
template <bool Logical>
AVX512 inline __m512i Component(const __m512i* y, const __m512i* l, __m512i inner, __m512i outer)
{
    __m512i v[2];
    for (int h = 0; h < 2; ++h) {
        const __m512i sum = Add(l[h], inner);
        v[h] = Add(Add(Logical ? _mm512_srli_epi16(sum, 8) : _mm512_srai_epi16(sum, 8), y[h]), outer);
    }
    return _mm512_packus_epi16(v[0], v[1]);
}

// The reference's products split as 298 = 256 + 42, 516 = 512 + 4, -208 = -256 + 48 and
// 409 = 512 - 103 keep every term within 16 bits; with C = Y - 16, D = U - 128, E = V - 128:
//   B = C + 2D + ((42C + 4D + 128) >> 8)
//   G = C - E + ((42C - 100D + 48E + 128) >> 8)
//   R = C + 2E + ((42C - 103E + 128) >> 8)
// are the reference's floors exactly, since whole multiples of 256 leave the shift. So do the
// constants, which all go inside the shift (in raw Y, U and V; D and E come as signed bytes):
//   B = Y + 2D + ((42Y + 4U - 5152) >> 8)             sum in [-5152, 6578]
//   G = Y - V + ((42Y - 100U + 48V + 34784) >> 8)     sum in [9284, 57734]: unsigned
//   R = Y + 2E + ((42Y - 103V + 8544) >> 8)           sum in [-17721, 19254]
// `dst` gets the colour bytes of `stores` (the fourth byte of each pixel keeps what the
// buffer held).
AVX512 inline void Step(__m512i luma, __m512i u, __m512i v, uint8_t* dst, const __mmask64* stores)
{
    const __m512i lumaWords[2] = {_mm512_and_si512(luma, Words(0xFF)), _mm512_srli_epi16(luma, 8)};
    // 42 Y as a byte multiply-add: a 16-bit multiply would be turned into five shifts and adds.
    const __m512i l[2] = {Weigh(luma, 42, 0), Weigh(luma, 0, 42)};
    const __m512i uv = _mm512_permutex2var_epi8(u, Load(kChromaPairs), v);
    const __m512i de = _mm512_xor_si512(uv, _mm512_set1_epi8(char(0x80)));
    const __m512i b = Component<false>(lumaWords, l, Add(Weigh(uv, 4, 0), Words(-5152)), WeighSigned(de, 2, 0));
    const __m512i gr = Component<true>(lumaWords, l, Add(Weigh(uv, -100, 48), Words(int16_t(34784 - 65536))),
                                       Weigh(uv, 0, -1));
    const __m512i r = Component<false>(lumaWords, l, Add(Weigh(uv, 0, -103), Words(8544)), WeighSigned(de, 0, 2));
    for (int half = 0; half < 2; ++half) {
        const __m512i bg = _mm512_permutex2var_epi8(b, Load(kBlueGreen[half]), gr);
        for (int k = 0; k < 2; ++k)
            _mm512_mask_storeu_epi8(dst + 128 * half + 64 * k, stores[2 * half + k],
                                    _mm512_permutex2var_epi8(bg, Load(kPixels[2 * half + k]), r));
    }
}

// The 32 chroma samples of a step in the low half.
AVX512 inline __m512i Chroma(const uint8_t* c)
{
    return _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)));
}

// prefetchw (the function's target has it) through the builtin, which every compiler here
// declares without extra headers.
AVX512 inline void PrefetchForWriting(const uint8_t* line) { __builtin_prefetch(line, 1, 3); }

AVX512 void YuvToRgb32(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst)
{
    const __mmask64 whole[4] = {kColourBytes, kColourBytes, kColourBytes, kColourBytes};
    // Asking for the destination lines a few steps ahead lets the stores retire sooner (about
    // a tenth of the frame time): first the row's own first lines, then in each step those
    // kAhead steps on. Near the row's end that is past it, the next row's lines when rows
    // ascend; a prefetch never faults and changes no byte.
    for (uint32_t line = 0; line < std::min(width / 16, 4 * kAhead); ++line) PrefetchForWriting(dst + 64 * line);
    uint32_t at = 0;
    for (; at + 64 <= width; at += 64, dst += 256) {
        for (int k = 0; k < 4; ++k) PrefetchForWriting(dst + 256 * kAhead + 64 * k);
        Step(_mm512_loadu_si512(y + at), Chroma(u + at / 2), Chroma(v + at / 2), dst, whole);
    }
    // The last pairs through masked loads and stores; an odd last pixel stays unwritten.
    const uint32_t pairs = (width - at) / 2;
    if (!pairs) return;
    __mmask64 stores[4];
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t n = std::min(std::max(2 * pairs, 16 * k) - 16 * k, 16u);  // pixels of store k
        stores[k] = kColourBytes & (n == 16 ? ~0ull : (1ull << 4 * n) - 1);
    }
    const __mmask64 lumaBytes = (1ull << 2 * pairs) - 1, chromaBytes = (1ull << pairs) - 1;
    Step(_mm512_maskz_loadu_epi8(lumaBytes, y + at), _mm512_maskz_loadu_epi8(chromaBytes, u + at / 2),
         _mm512_maskz_loadu_epi8(chromaBytes, v + at / 2), dst, stores);
}

}  // namespace

void YuvToRgbRowAvx512(const uint8_t* y, const uint8_t* v, const uint8_t* u, uint32_t width, uint8_t* dst,
                       uint32_t bytesPerPixel)
{
    if (bytesPerPixel != 4) return YuvToRgbRowPlain(y, v, u, width, dst, bytesPerPixel);
    YuvToRgb32(y, v, u, width, dst);
}

// The AVX2 set with the 64-pixel RGB32 row (set before any constructor runs: the tests list
// the sets from theirs).
constinit const ColorRowFunctions kAvx512ColorRows = Avx2ColorRows("avx512", YuvToRgbRowAvx512);
