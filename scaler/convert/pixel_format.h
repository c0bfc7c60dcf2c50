// The seven picture formats the scaler reads and writes, reduced to a descriptor per pin.
#pragma once

#include <cstdint>
#include <optional>

#include "dshow/formats.h"

constexpr GUID MEDIASUBTYPE_YVYU_SCALER = GuidFromFourCC(MakeFourCC('Y', 'V', 'Y', 'U'));
constexpr GUID MEDIASUBTYPE_YV16 = {0x7C63D475, 0x46D7, 0x4466, {0x8E, 0xB3, 0x81, 0x73, 0x15, 0xAB, 0x31, 0x37}};

// Format codes: even = with a VIDEOINFOHEADER2 block, odd = with a VIDEOINFOHEADER block.
enum class PixelFormat : uint16_t { YUY2 = 0, UYVY = 1, YVYU = 2, YV16 = 3, YV12 = 4, RGB32 = 5, RGB24 = 6 };
constexpr uint16_t kNoFormatCode = 14;
constexpr uint16_t CodeOf(PixelFormat f, bool videoInfo2) { return uint16_t(uint16_t(f) * 2 + (videoInfo2 ? 0 : 1)); }
constexpr PixelFormat FormatOfCode(uint16_t code) { return PixelFormat(code / 2); }
constexpr bool IsVideoInfo2Code(uint16_t code) { return code % 2 == 0; }

enum FormatKind : uint16_t { kPlanarYuv = 1, kPacked422 = 2, kRgb24 = 3, kRgb32 = 4 };

struct FormatDescriptor {
    uint8_t planar = 0;
    uint8_t uFirst = 0;
    uint8_t vFirst = 0;
    uint8_t bottomUp = 0;
    uint16_t planeCount = 0;
    uint16_t hShift = 0;
    uint16_t vShift = 0;
    uint16_t kind = 0;
    uint16_t code = kNoFormatCode;

    PixelFormat Format() const { return FormatOfCode(code); }
    bool IsRgb() const { return kind == kRgb24 || kind == kRgb32; }
};

struct FormatInfo {
    const char* name;
    GUID subtype;
    DWORD compression;
    WORD bitCount;
};
const FormatInfo& InfoOf(PixelFormat format);

FormatDescriptor DescribeFormat(uint16_t code, bool bottomUp);
std::optional<PixelFormat> FormatOfSubtype(const GUID& subtype);

// Bytes from one row to the next of the first plane of a picture of this type.
LONG LineStride(PixelFormat format, const BITMAPINFOHEADER& header);
