// Builds a media type from bytes and runs every format-block reader and the description on
// it. Input: major type, subtype (16 bytes each), fixed-size flag, temporal-compression flag,
// sample size (4 bytes each), format type (16 bytes), then the format block itself.
#include <cstdint>
#include <cstring>

#include "com/taskmem.h"
#include "dshow/mtype.h"

namespace {

constexpr size_t kHeaderSize = 16 + 16 + 4 + 4 + 4 + 16;

// Reads every byte of a span, so that a span past its block shows up under ASan.
unsigned Touch(std::span<const BYTE> bytes)
{
    unsigned sum = 0;
    for (BYTE b : bytes) sum += b;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kHeaderSize) return 0;
    AM_MEDIA_TYPE raw{};
    std::memcpy(&raw.majortype, data, 16);
    std::memcpy(&raw.subtype, data + 16, 16);
    std::memcpy(&raw.bFixedSizeSamples, data + 32, 4);
    std::memcpy(&raw.bTemporalCompression, data + 36, 4);
    std::memcpy(&raw.lSampleSize, data + 40, 4);
    std::memcpy(&raw.formattype, data + 44, 16);
    CMediaType mt(raw);
    mt.SetFormat(data + kHeaderSize, ULONG(size - kHeaderSize));

    volatile unsigned sink = 0;
    if (const BITMAPINFOHEADER* bi = GetBitmapInfoHeader(mt)) sink = sink + GetBitmapFrameSize(*bi) + bi->biClrUsed;
    if (const VIDEOINFOHEADER* vih = GetVideoInfoHeader(mt)) sink = sink + vih->bmiHeader.biClrImportant;
    if (const VIDEOINFOHEADER2* vih2 = GetVideoInfoHeader2(mt)) sink = sink + vih2->bmiHeader.biClrImportant;
    sink = sink + unsigned(GetAvgTimePerFrame(mt));
    if (const WAVEFORMATEX* wfx = GetWaveFormatEx(mt)) sink = sink + wfx->cbSize;
    sink = sink + Touch(GetWaveFormatExtra(mt)) + Touch(GetSequenceHeader(mt));
    sink = sink + unsigned(DescribeMediaType(mt).size()) + unsigned(MediaTypeName(mt.subtype).size());

    CMediaType copy(mt);
    if (!(copy == mt) || !copy.MatchesPartial(&mt)) __builtin_trap();
    AM_MEDIA_TYPE* heap = CreateMediaType(&mt);
    if (heap) {
        if (!(CMediaType(*heap) == mt)) __builtin_trap();
        DeleteMediaType(heap);
    }
    return 0;
}
