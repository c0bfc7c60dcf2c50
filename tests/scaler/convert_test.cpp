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

TEST(Convert, LetterboxRoundsToChromaRowsAndFields)
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

    // Without chroma rows or fields (s = 0) the rounding takes one row off: 58 becomes 57.
    c = BaseConfig(720, 576, 5, 4);
    c.arChangeOn = -1;
    Frame rgbIn = MakeFrame(PixelFormat::RGB24, 720, 576), rgbOut = MakeFrame(PixelFormat::RGB24, 720, 576);
    g = Convert(c, rgbIn, rgbOut);
    EXPECT_EQ(g.borderTop, 57);
    EXPECT_EQ(g.regionHeight, 576 - 2 * 57);
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

namespace {

// A plain per-pixel model of a conversion: the picture into planes of the working layout,
// each plane through the kernel reference, the planes into the output picture.
class PlainPath {
public:
    PlainPath(const Frame& in, const Frame& out) : in_(in), out_(out), layout_(ChooseWorkingLayout(in.format, out.format)) {}

    std::vector<uint8_t> Run(int method)
    {
        Unpack();
        // The same size is a copy: no kernel runs.
        const bool resized = in_.width != out_.width || in_.height != out_.height;
        for (uint32_t p = 0; resized && p < layout_.planeCount; ++p)
            planes_[p] = reference::Resample(p < 3 ? method : -1, planes_[p], Width(p, in_), Height(p, in_),
                                             Width(p, out_), Height(p, out_));
        Pack();
        return out_.bytes;
    }

private:
    uint32_t Width(uint32_t p, const Frame& f) const { return p == 1 || p == 2 ? f.width >> layout_.hShift : f.width; }
    uint32_t Height(uint32_t p, const Frame& f) const { return p == 1 || p == 2 ? f.height >> layout_.vShift : f.height; }
    // Byte of component c (B, G, R, X or Y, V, U) at (x, y) of a picture; chroma by chroma coordinates.
    static uint8_t& At(Frame& f, uint32_t c, uint32_t x, uint32_t y)
    {
        if (f.format.IsRgb()) {
            const uint32_t row = f.format.bottomUp ? f.height - 1 - y : y;
            return f.bytes[row * f.stride + x * (f.format.kind == kRgb32 ? 4 : 3) + c];
        }
        if (f.format.planar) {
            if (c == 0) return f.bytes[y * f.stride + x];
            const size_t chroma = size_t(f.stride >> 1) * (f.height >> f.format.vShift);
            return f.bytes[f.stride * f.height + (c - 1) * chroma + y * (f.stride >> 1) + x];
        }
        // Offsets of Y0, Y1, U, V in each four-byte group.
        static constexpr uint8_t kYuy2[4] = {0, 2, 1, 3}, kUyvy[4] = {1, 3, 0, 2}, kYvyu[4] = {0, 2, 3, 1};
        const uint8_t* o = f.format.uFirst ? kUyvy : f.format.vFirst ? kYvyu : kYuy2;
        const size_t group = y * f.stride + (c ? x : x / 2) * 4;
        return f.bytes[group + (c == 0 ? o[x & 1] : c == 1 ? o[3] : o[2])];
    }
    uint8_t& Plane(uint32_t p, uint32_t x, uint32_t y, const Frame& f) { return planes_[p][y * Width(p, f) + x]; }

    void Unpack()
    {
        Frame& f = const_cast<Frame&>(in_);
        for (uint32_t p = 0; p < layout_.planeCount; ++p) planes_[p].assign(Width(p, in_) * Height(p, in_), 0);
        for (uint32_t y = 0; y < in_.height; ++y)
            for (uint32_t x = 0; x < in_.width; ++x) {
                if (layout_.rgb) {
                    for (uint32_t p = 0; p < layout_.planeCount; ++p) Plane(p, x, y, in_) = At(f, p, x, y);
                } else if (in_.format.IsRgb()) {
                    Plane(0, x, y, in_) = Luma(At(f, 2, x, y), At(f, 1, x, y), At(f, 0, x, y));
                } else {
                    Plane(0, x, y, in_) = At(f, 0, x, y);
                }
            }
        if (layout_.rgb) return;
        const uint32_t vs = layout_.vShift;
        for (uint32_t y = 0; y < Height(1, in_); ++y)
            for (uint32_t x = 0; x < Width(1, in_); ++x)
                for (uint32_t c = 1; c < 3; ++c) {
                    if (!in_.format.IsRgb()) {
                        const bool average = vs && !in_.format.vShift;
                        Plane(c, x, y, in_) = average ? uint8_t((At(f, c, x, 2 * y) + At(f, c, x, 2 * y + 1)) >> 1)
                                                      : At(f, c, x, y);
                        continue;
                    }
                    int s[3] = {};
                    for (uint32_t dy = 0; dy <= vs; ++dy)
                        for (uint32_t dx = 0; dx < 2; ++dx)
                            for (uint32_t k = 0; k < 3; ++k) s[k] += At(f, k, 2 * x + dx, (y << vs) + dy);
                    const int v = 56 * s[2] - 47 * s[1] - 9 * s[0], u = -19 * s[2] - 37 * s[1] + 56 * s[0];
                    const int sum = c == 1 ? v : u;
                    Plane(c, x, y, in_) = uint8_t(vs ? (sum + 65792) >> 9 : (sum + 32896) >> 8);
                }
    }

    void Pack()
    {
        const uint32_t vs = layout_.vShift;
        for (uint32_t y = 0; y < out_.height; ++y)
            for (uint32_t x = 0; x < out_.width; ++x) {
                if (layout_.rgb) {
                    const uint32_t n = std::min<uint32_t>(layout_.planeCount, out_.format.kind == kRgb32 ? 4 : 3);
                    for (uint32_t p = 0; p < n; ++p) At(out_, p, x, y) = Plane(p, x, y, out_);
                    continue;
                }
                const uint8_t luma = Plane(0, x, y, out_);
                const uint8_t v = Plane(1, x / 2, y >> vs, out_), u = Plane(2, x / 2, y >> vs, out_);
                if (out_.format.IsRgb()) {
                    const int c = 298 * (luma - 16), d = u - 128, e = v - 128;
                    At(out_, 0, x, y) = Clamp((c + 516 * d + 128) >> 8);
                    At(out_, 1, x, y) = Clamp((c - 100 * d - 208 * e + 128) >> 8);
                    At(out_, 2, x, y) = Clamp((c + 409 * e + 128) >> 8);
                    continue;
                }
                At(out_, 0, x, y) = luma;
                if (x % 2 || (out_.format.vShift && y % 2)) continue;
                At(out_, 1, x / 2, y >> out_.format.vShift) = v;
                At(out_, 2, x / 2, y >> out_.format.vShift) = u;
            }
    }

    const Frame& in_;
    Frame out_;
    WorkingLayout layout_;
    std::vector<uint8_t> planes_[4];
};

// Every pair of formats, at the same size and resized, through the work planes and the direct
// routines alike, against the plain model.
TEST(Convert, EveryFormatPairMatchesThePlainPerPlanePath)
{
    const PixelFormat all[] = {PixelFormat::YUY2, PixelFormat::UYVY, PixelFormat::YVYU, PixelFormat::YV16,
                               PixelFormat::YV12, PixelFormat::RGB32, PixelFormat::RGB24};
    for (PixelFormat from : all)
        for (PixelFormat to : all) {
            const bool v12 = from == PixelFormat::YV12 || to == PixelFormat::YV12;
            if (v12 && (from == PixelFormat::YV16 || to == PixelFormat::YV16)) continue;  // not offered
            for (auto [outW, outH] : {std::pair{24u, 16u}, std::pair{16u, 10u}, std::pair{34u, 20u}})
                for (bool bottomUp : {false, true})
                    for (bool direct : {true, false}) {
                        Frame in = MakeFrame(from, 24, 16, bottomUp), out = MakeFrame(to, outW, outH, bottomUp);
                        FillRandom(in, outW);
                        const std::vector<uint8_t> expected = PlainPath(in, out).Run(1);
                        FrameConverter converter;
                        GeometryInput input{24, 16, outW, outH, in.format, out.format, false};
                        converter.Configure(BaseConfig(24, 16, 3, 2), input, 1);
                        converter.ConvertDirectly(direct);
                        converter.Convert(in.bytes.data(), in.stride, out.bytes.data(), out.stride);
                        ASSERT_EQ(out.bytes, expected) << InfoOf(from).name << " to " << InfoOf(to).name << " "
                                                       << outW << "x" << outH << (bottomUp ? " bottom-up" : "")
                                                       << (direct ? " direct" : " work planes");
                    }
        }
}

// Two, three and eight workers give the frame one worker gives: pictures unpacked, resampled
// and packed (or only converted, at the cropped size) in bands of rows, 4:2:0 chroma rows
// paired across band boundaries, odd field heights, bands left empty, in place and through the
// work planes.
TEST(Convert, WorkerBandsGiveTheFrameOfOneWorker)
{
    using F = PixelFormat;
    const std::pair<F, F> paths[] = {{F::YUY2, F::YV12}, {F::RGB24, F::YV12}, {F::YV12, F::YUY2}, {F::YUY2, F::YUY2},
                                     {F::YV12, F::YV12}, {F::RGB32, F::RGB24}, {F::YV12, F::RGB32}};
    for (auto [from, to] : paths)
        for (auto [outW, outH] : {std::pair{42u, 34u}, std::pair{90u, 62u}, std::pair{64u, 38u}})
            for (bool fields : {false, true})
                for (bool direct : {true, false}) {
                    SCALVO_Config c = BaseConfig(64, 46, 4, 3);
                    c.croppingOn = -1;
                    c.cropTop = 2;
                    c.cropBottom = 6;
                    if (fields) c.interlaceState = 2;
                    Frame in = MakeFrame(from, 64, 46), out = MakeFrame(to, outW, outH);
                    FillRandom(in, outH);
                    GeometryInput input{64, 46, outW, outH, in.format, out.format, false};
                    std::vector<uint8_t> one;
                    for (uint32_t mask : {1u, 0b11u, 0b111u, 0xFFu}) {
                        FrameConverter converter;
                        converter.Configure(c, input, mask);
                        converter.ConvertDirectly(direct);
                        converter.Convert(in.bytes.data(), in.stride, out.bytes.data(), out.stride);
                        if (mask == 1) one = out.bytes;
                        ASSERT_EQ(out.bytes, one) << InfoOf(from).name << " to " << InfoOf(to).name << " " << outW
                                                  << "x" << outH << (fields ? " fields" : "") << " mask " << mask
                                                  << (direct ? " direct" : " work planes");
                    }
                }
}

}  // namespace
