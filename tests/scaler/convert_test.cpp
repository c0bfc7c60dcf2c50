#include <gtest/gtest.h>

#include <random>

#include "convert/frame_converter.h"
#include "reference_kernels.h"

namespace {

SCALVO_Config BaseConfig(uint16_t w, uint16_t h, uint16_t arW, uint16_t arH)
{
    SCALVO_Config c{};
    c.sourceWidth = w;
    c.sourceHeight = h;
    c.sourceArWidth = arW;
    c.sourceArHeight = arH;
    c.resizingMethod = 1;
    c.targetArWidth = c.targetArHeight = 1.0;
    c.colorConversion = -1;
    c.affinityMask = 1;
    return c;
}

struct Frame {
    FormatDescriptor format;
    uint32_t width, height;
    int64_t stride;
    std::vector<uint8_t> bytes;
};

Frame MakeFrame(PixelFormat f, uint32_t w, uint32_t h, bool bottomUp = false)
{
    Frame fr{DescribeFormat(CodeOf(f, true), bottomUp), w, h, 0, {}};
    fr.stride = f == PixelFormat::YV12 || f == PixelFormat::YV16 ? w : int64_t(w) * InfoOf(f).bitCount / 8;
    fr.bytes.assign(PictureBytes(fr.format, fr.stride, h), 0xAB);
    return fr;
}

GeometryState Convert(const SCALVO_Config& c, const Frame& in, Frame& out)
{
    FrameConverter converter;
    GeometryInput input{in.width, in.height, out.width, out.height, in.format, out.format, false};
    converter.Configure(c, input, 1);
    converter.Convert(in.bytes.data(), in.stride, out.bytes.data(), out.stride);
    return converter.Geometry();
}

void FillRandom(Frame& f, uint32_t seed)
{
    std::mt19937 gen(seed);
    for (auto& b : f.bytes) b = uint8_t(gen());
}

uint8_t Luma(int r, int g, int b) { return uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

TEST(Convert, RgbToPackedUsesTheLimitedRangeMatrix)
{
    Frame in = MakeFrame(PixelFormat::RGB24, 2, 1), out = MakeFrame(PixelFormat::UYVY, 2, 1);
    const uint8_t bgr[6] = {10, 200, 250, 60, 30, 90};  // B, G, R of two pixels
    std::copy(bgr, bgr + 6, in.bytes.begin());
    EXPECT_TRUE(Convert(BaseConfig(2, 1, 2, 1), in, out).copyOnly);
    const int rs = 250 + 90, gs = 200 + 30, bs = 10 + 60;
    const uint8_t v = uint8_t((56 * rs - 47 * gs - 9 * bs + 32896) >> 8);
    const uint8_t u = uint8_t((-19 * rs - 37 * gs + 56 * bs + 32896) >> 8);
    EXPECT_EQ(out.bytes, (std::vector<uint8_t>{u, Luma(250, 200, 10), v, Luma(90, 30, 60)}));
}

TEST(Convert, RgbToYv12AveragesTwoByTwoBlocks)
{
    Frame in = MakeFrame(PixelFormat::RGB32, 2, 2, true), out = MakeFrame(PixelFormat::YV12, 2, 2);
    FillRandom(in, 4);
    Convert(BaseConfig(2, 2, 1, 1), in, out);
    // Bottom-up: memory row 1 is the picture's first row.
    const uint8_t* top = in.bytes.data() + 8;
    const uint8_t* bottom = in.bytes.data();
    EXPECT_EQ(out.bytes[0], Luma(top[2], top[1], top[0]));
    EXPECT_EQ(out.bytes[2], Luma(bottom[2], bottom[1], bottom[0]));
    int rs = top[2] + top[6] + bottom[2] + bottom[6], gs = top[1] + top[5] + bottom[1] + bottom[5],
        bs = top[0] + top[4] + bottom[0] + bottom[4];
    EXPECT_EQ(out.bytes[4], uint8_t((56 * rs - 47 * gs - 9 * bs + 65792) >> 9));   // V plane first
    EXPECT_EQ(out.bytes[5], uint8_t((-19 * rs - 37 * gs + 56 * bs + 65792) >> 9));  // then U
}

TEST(Convert, Yv12ToRgbSharesChromaAcrossTwoRows)
{
    Frame in = MakeFrame(PixelFormat::YV12, 2, 2), out = MakeFrame(PixelFormat::RGB24, 2, 2);
    in.bytes = {16, 235, 100, 50, /*V*/ 200, /*U*/ 40};
    Convert(BaseConfig(2, 2, 1, 1), in, out);
    auto rgb = [](int y, int u, int v) {
        int c = 298 * (y - 16), d = u - 128, e = v - 128;
        return std::vector<uint8_t>{Clamp((c + 516 * d + 128) >> 8), Clamp((c - 100 * d - 208 * e + 128) >> 8),
                                    Clamp((c + 409 * e + 128) >> 8)};
    };
    std::vector<uint8_t> expected;
    for (int y : {16, 235, 100, 50}) {
        auto px = rgb(y, 40, 200);
        expected.insert(expected.end(), px.begin(), px.end());
    }
    EXPECT_EQ(out.bytes, expected);
}

TEST(Convert, ChromaRowsAverageInto420AndDoubleOutOfIt)
{
    for (PixelFormat from : {PixelFormat::YUY2, PixelFormat::YV16}) {
        Frame in = MakeFrame(from, 4, 2), out = MakeFrame(PixelFormat::YV12, 4, 2);
        Frame back = MakeFrame(from, 4, 2);
        FillRandom(in, 9);
        Convert(BaseConfig(4, 2, 2, 1), in, out);
        Convert(BaseConfig(4, 2, 2, 1), out, back);
        // Luma survives; chroma is the average of both rows, then serves both rows.
        Frame planesIn = MakeFrame(PixelFormat::YV16, 4, 2), planesBack = MakeFrame(PixelFormat::YV16, 4, 2);
        Convert(BaseConfig(4, 2, 2, 1), in, planesIn);
        Convert(BaseConfig(4, 2, 2, 1), back, planesBack);
        const uint8_t* c = planesIn.bytes.data() + 8;  // V rows (2 x 2), then U rows
        const uint8_t* r = planesBack.bytes.data() + 8;
        EXPECT_TRUE(std::equal(planesIn.bytes.begin(), planesIn.bytes.begin() + 8, planesBack.bytes.begin()));
        for (int plane = 0; plane < 2; ++plane)
            for (int x = 0; x < 2; ++x) {
                uint8_t avg = uint8_t((c[plane * 4 + x] + c[plane * 4 + 2 + x]) >> 1);
                EXPECT_EQ(r[plane * 4 + x], avg);
                EXPECT_EQ(r[plane * 4 + 2 + x], avg);
            }
    }
}

TEST(Convert, PillarboxFromFourThreeToSixteenNine)
{
    SCALVO_Config c = BaseConfig(720, 576, 4, 3);
    c.arChangeOn = -1;
    c.targetArWidth = 16;
    c.targetArHeight = 9;
    Frame in = MakeFrame(PixelFormat::YUY2, 720, 576), out = MakeFrame(PixelFormat::YUY2, 720, 576);
    FillRandom(in, 1);
    GeometryState g = Convert(c, in, out);
    EXPECT_EQ(g.borderLeft, 90);
    EXPECT_EQ(g.borderRight, 90);
    EXPECT_EQ(g.regionWidth, 540);
    EXPECT_FALSE(g.copyOnly);
    for (uint32_t row : {0u, 300u, 575u}) {
        const uint8_t* line = out.bytes.data() + row * 1440;
        EXPECT_EQ(line[0], 16);
        EXPECT_EQ(line[1], 128);
        EXPECT_EQ(line[179], 128);
        EXPECT_EQ(line[1440 - 2], 16);
    }
}

TEST(Convert, LetterboxOnInterlacedYv12IsAMultipleOfFour)
{
    SCALVO_Config c = BaseConfig(1920, 1080, 16, 9);
    c.arChangeOn = -1;
    c.targetArWidth = 4;
    c.targetArHeight = 3;
    c.interlaceState = 2;
    Frame in = MakeFrame(PixelFormat::YV12, 1920, 1080), out = MakeFrame(PixelFormat::YV12, 720, 574);
    GeometryState g = Convert(c, in, out);
    // h = trunc(0.5 * (16/9 - 3/4... )) then ((h + 1) >> 2) << 2.
    const double m = 9.0 / 16 - 3.0 / 4;
    int h = int(-0.5 * m * 574 * 4 / 3 + 0.5);
    h = ((h + 1) >> 2) << 2;
    EXPECT_EQ(g.borderTop, h);
    EXPECT_EQ(g.borderTop % 4, 0);
    EXPECT_EQ(g.regionHeight, (574 - 2 * h) >> 1);  // per field
    EXPECT_EQ(out.bytes[0], 16);
    EXPECT_EQ(out.bytes[720 * 574], 128);
}

TEST(Convert, EqualRatiosCopyOrResampleWithoutBars)
{
    SCALVO_Config c = BaseConfig(64, 48, 4, 3);
    c.arChangeOn = -1;
    c.targetArWidth = 4;
    c.targetArHeight = 3;
    Frame in = MakeFrame(PixelFormat::YUY2, 64, 48), out = MakeFrame(PixelFormat::YUY2, 64, 48);
    FillRandom(in, 2);
    EXPECT_TRUE(Convert(c, in, out).copyOnly);
    EXPECT_EQ(out.bytes, in.bytes);
    // The same ratio written as 8:6 goes through the formulas: no bars, but resampled.
    c.targetArWidth = 8;
    c.targetArHeight = 6;
    GeometryState g = Convert(c, in, out);
    EXPECT_FALSE(g.copyOnly);
    EXPECT_EQ(g.borderLeft + g.borderTop + g.borderRight + g.borderBottom, 0);
    EXPECT_EQ(g.regionWidth, 64);
}

TEST(Convert, CropThatLeavesNoPictureSwitchesCroppingOff)
{
    SCALVO_Config c = BaseConfig(64, 48, 4, 3);
    c.croppingOn = -1;
    c.cropLeft = 40;
    c.cropRight = 30;
    Frame in = MakeFrame(PixelFormat::RGB24, 64, 48), out = MakeFrame(PixelFormat::RGB24, 64, 48);
    FillRandom(in, 3);
    GeometryState g = Convert(c, in, out);
    EXPECT_TRUE(g.copyOnly);
    EXPECT_EQ(g.srcLeft, 0);
    EXPECT_EQ(out.bytes, in.bytes);
}

TEST(Convert, ScaledPlanesMatchTheKernelReference)
{
    // YV12 in and out: each plane goes through the bicubic kernel on its own.
    SCALVO_Config c = BaseConfig(40, 30, 4, 3);
    c.croppingOn = -1;
    c.cropLeft = 4;
    c.cropTop = 2;
    Frame in = MakeFrame(PixelFormat::YV12, 40, 30), out = MakeFrame(PixelFormat::YV12, 22, 14);
    FillRandom(in, 6);
    Convert(c, in, out);
    std::vector<uint8_t> luma(36 * 28);
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 36; ++x) luma[y * 36 + x] = in.bytes[(y + 2) * 40 + x + 4];
    auto expected = reference::Resample(1, luma, 36, 28, 22, 14);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.bytes.begin()));
}

TEST(Convert, ImpossibleGeometryPaintsBlackInsteadOfReadingOutside)
{
    SCALVO_Config c = BaseConfig(64, 48, 4, 3);
    c.arChangeOn = -1;
    c.arMethod = 1;  // crop
    c.targetArWidth = 1;
    c.targetArHeight = 20000;
    Frame in = MakeFrame(PixelFormat::YUY2, 64, 48), out = MakeFrame(PixelFormat::YUY2, 64, 48);
    GeometryState g = Convert(c, in, out);
    EXPECT_FALSE(g.HasPicture());
    EXPECT_EQ(out.bytes[0], 16);
    EXPECT_EQ(out.bytes.back(), 128);
}

}  // namespace

#include "convert/color_rows.h"

namespace {

TEST(Convert, PackedRowSimdMatchesThePlainLoop)
{
    for (const ColorRowFunctions* rows : SupportedColorRows()) {
      for (PackedLayout layout : {kYuy2Layout, kUyvyLayout, kYvyuLayout})
        for (uint32_t width : {2u, 15u, 16u, 37u, 70u}) {
            std::vector<uint8_t> src(width * 2 + 2);
            std::mt19937 gen(width);
            for (auto& b : src) b = uint8_t(gen());
            std::vector<uint8_t> y(width), v(width / 2), u(width / 2);
            rows->unpackPacked(src.data(), layout, width, y.data(), v.data(), u.data());
            for (uint32_t i = 0; i < width / 2; ++i) {
                ASSERT_EQ(y[2 * i], src[4 * i + layout.y0]);
                ASSERT_EQ(y[2 * i + 1], src[4 * i + layout.y1]);
                ASSERT_EQ(u[i], src[4 * i + layout.u]);
                ASSERT_EQ(v[i], src[4 * i + layout.v]);
            }
            if (width & 1) {
                EXPECT_EQ(y[width - 1], src[2 * (width - 1) + layout.y0]);
            }
        }
    }
}

}  // namespace

namespace {

TEST(Convert, Rgb32RowSimdMatchesTheMatrixAndKeepsTheFourthByte)
{
    for (const ColorRowFunctions* rows : SupportedColorRows()) {
      for (uint32_t width : {2u, 9u, 16u, 38u}) {
        std::mt19937 gen(width);
        std::vector<uint8_t> y(width), v(width / 2), u(width / 2), dst(width * 4, 0x5A);
        for (auto* p : {&y, &v, &u})
            for (auto& b : *p) b = uint8_t(gen());
        y[0] = 255, u[0] = 255, v[0] = 0;  // saturates blue and green
        rows->yuvToRgb(y.data(), v.data(), u.data(), width, dst.data(), 4);
        if (width & 1) {
            EXPECT_EQ(dst[4 * (width - 1)], 0x5A);  // no chroma pair: left alone
        }
        for (uint32_t i = 0; i < (width & ~1u); ++i) {
            int c = 298 * (y[i] - 16), d = u[i / 2] - 128, e = v[i / 2] - 128;
            ASSERT_EQ(dst[4 * i], Clamp((c + 516 * d + 128) >> 8)) << width << " " << i;
            ASSERT_EQ(dst[4 * i + 1], Clamp((c - 100 * d - 208 * e + 128) >> 8));
            ASSERT_EQ(dst[4 * i + 2], Clamp((c + 409 * e + 128) >> 8));
            ASSERT_EQ(dst[4 * i + 3], 0x5A);
        }
      }
    }
}

}  // namespace
