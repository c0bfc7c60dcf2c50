// Every set of colour row functions against the plain reference on odd widths, and the direct
// frame conversions (planar pictures read or written in place, RGB straight into packed rows)
// against the same conversions through the work planes.
#include <gtest/gtest.h>

#include <random>

#include "convert/color_rows.h"
#include "convert/frame_converter.h"

namespace {

const uint32_t kWidths[] = {0, 1, 2, 3, 15, 16, 17, 31, 32, 33, 47, 48, 63, 95, 130};

// Random bytes, with runs of 0 and 255 that drive the matrices to their extremes.
std::vector<uint8_t> Bytes(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = gen();
        v[i] = (r >> 24) < 40 ? 0 : (r >> 24) < 80 ? 255 : uint8_t(r);
    }
    return v;
}

// Output buffers start with the same filler for both sets, so bytes a set must leave alone are
// compared too.
std::vector<uint8_t> Filler(size_t n) { return std::vector<uint8_t>(n + 8, 0x5A); }

class ColorRowSets : public ::testing::TestWithParam<const ColorRowFunctions*> {
protected:
    const ColorRowFunctions& plain = *SupportedColorRows().front();
    const ColorRowFunctions& simd = *GetParam();
};

TEST_P(ColorRowSets, PackedRowsMatchTheReference)
{
    for (PackedLayout layout : {kYuy2Layout, kUyvyLayout, kYvyuLayout}) {
        for (uint32_t w : kWidths) {
            const auto src = Bytes(2 * size_t(w) + 2, w);
            auto y0 = Filler(w), v0 = Filler(w / 2), u0 = Filler(w / 2);
            auto y1 = y0, v1 = v0, u1 = u0;
            plain.unpackPacked(src.data(), layout, w, y0.data(), v0.data(), u0.data());
            simd.unpackPacked(src.data(), layout, w, y1.data(), v1.data(), u1.data());
            ASSERT_EQ(y0, y1) << w;
            ASSERT_EQ(v0, v1) << w;
            ASSERT_EQ(u0, u1) << w;

            auto d0 = Filler(2 * size_t(w)), d1 = d0;
            plain.packPacked(src.data(), src.data() + w, src.data() + w + w / 2, layout, w, d0.data());
            simd.packPacked(src.data(), src.data() + w, src.data() + w + w / 2, layout, w, d1.data());
            ASSERT_EQ(d0, d1) << w;

            const auto below = Bytes(2 * size_t(w) + 2, w + 99);
            auto z0 = Filler(w), z1 = z0;
            plain.unpackPacked420(src.data(), below.data(), layout, w, y0.data(), z0.data(), v0.data(), u0.data());
            simd.unpackPacked420(src.data(), below.data(), layout, w, y1.data(), z1.data(), v1.data(), u1.data());
            ASSERT_EQ(y0, y1) << w;
            ASSERT_EQ(z0, z1) << w;
            ASSERT_EQ(v0, v1) << w;
            ASSERT_EQ(u0, u1) << w;
        }
    }
}

TEST_P(ColorRowSets, RgbToYuvMatchesTheReference)
{
    for (uint32_t bpp : {3u, 4u}) {
        for (uint32_t w : kWidths) {
            // Exactly the row's bytes, so that a read past the pixels shows under the sanitizer.
            const auto a = Bytes(size_t(w) * bpp, w + bpp), b = Bytes(size_t(w) * bpp, 7 * w + bpp);
            for (PackedLayout layout : {kYuy2Layout, kUyvyLayout, kYvyuLayout}) {
                auto p0 = Filler(2 * size_t(w)), p1 = p0;
                plain.rgbToPacked(a.data(), bpp, layout, w, p0.data());
                simd.rgbToPacked(a.data(), bpp, layout, w, p1.data());
                ASSERT_EQ(p0, p1) << bpp << " " << w;
            }
            auto y0 = Filler(w), v0 = Filler(w / 2), u0 = Filler(w / 2);
            auto y1 = y0, v1 = v0, u1 = u0;
            plain.rgbToYuv(a.data(), bpp, w, y0.data(), v0.data(), u0.data());
            simd.rgbToYuv(a.data(), bpp, w, y1.data(), v1.data(), u1.data());
            ASSERT_EQ(y0, y1) << bpp << " " << w;
            ASSERT_EQ(v0, v1) << bpp << " " << w;
            ASSERT_EQ(u0, u1) << bpp << " " << w;

            auto z0 = Filler(w), z1 = z0;
            plain.rgbToYuv420(a.data(), b.data(), bpp, w, y0.data(), z0.data(), v0.data(), u0.data());
            simd.rgbToYuv420(a.data(), b.data(), bpp, w, y1.data(), z1.data(), v1.data(), u1.data());
            ASSERT_EQ(y0, y1) << bpp << " " << w;
            ASSERT_EQ(z0, z1) << bpp << " " << w;
            ASSERT_EQ(v0, v1) << bpp << " " << w;
            ASSERT_EQ(u0, u1) << bpp << " " << w;
        }
    }
}

TEST_P(ColorRowSets, YuvToRgbAndAveragesMatchTheReference)
{
    for (uint32_t bpp : {3u, 4u}) {
        for (uint32_t w : kWidths) {
            const auto y = Bytes(w, w), v = Bytes(w / 2, w + 1), u = Bytes(w / 2, w + 2);
            auto d0 = Filler(size_t(w) * bpp), d1 = d0;
            plain.yuvToRgb(y.data(), v.data(), u.data(), w, d0.data(), bpp);
            simd.yuvToRgb(y.data(), v.data(), u.data(), w, d1.data(), bpp);
            ASSERT_EQ(d0, d1) << bpp << " " << w;
        }
    }
    for (uint32_t w : kWidths) {
        const auto a = Bytes(w, w), b = Bytes(w, w + 3);
        auto d0 = Filler(w), d1 = d0;
        plain.averageRows(a.data(), b.data(), w, d0.data());
        simd.averageRows(a.data(), b.data(), w, d1.data());
        ASSERT_EQ(d0, d1) << w;
    }
}

// Every combination of the 16-bit lanes' inputs for the colour matrices, through whole groups.
TEST_P(ColorRowSets, MatricesHoldOverTheWholeInputRange)
{
    std::vector<uint8_t> y(256 * 16), v(256 * 8), u(256 * 8);
    for (uint32_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i);
    for (uint32_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i * 7), u[i] = uint8_t(i / 8);
    auto d0 = Filler(y.size() * 4), d1 = d0;
    plain.yuvToRgb(y.data(), v.data(), u.data(), uint32_t(y.size()), d0.data(), 4);
    simd.yuvToRgb(y.data(), v.data(), u.data(), uint32_t(y.size()), d1.data(), 4);
    EXPECT_EQ(d0, d1);

    // Pixels cycling through corners and ramps of the RGB cube.
    std::vector<uint8_t> rgb(4 * 4096);
    for (uint32_t i = 0; i < 4096; ++i)
        for (uint32_t c = 0; c < 3; ++c) rgb[4 * i + c] = uint8_t((i >> (4 * c)) & 15) * 17;
    std::vector<uint8_t> l0(4096), l1(4096), z0(4096), z1(4096), c0(4096), c1(4096);
    plain.rgbToYuv420(rgb.data(), rgb.data() + 4, 4, 4095, l0.data(), z0.data(), c0.data(), c0.data() + 2048);
    simd.rgbToYuv420(rgb.data(), rgb.data() + 4, 4, 4095, l1.data(), z1.data(), c1.data(), c1.data() + 2048);
    EXPECT_EQ(l0, l1);
    EXPECT_EQ(z0, z1);
    EXPECT_EQ(c0, c1);
    std::vector<uint8_t> k0(2 * 4096), k1(2 * 4096);
    plain.rgbToPacked(rgb.data(), 4, kYuy2Layout, 4096, k0.data());
    simd.rgbToPacked(rgb.data(), 4, kYuy2Layout, 4096, k1.data());
    EXPECT_EQ(k0, k1);
}

std::string SetName(const ::testing::TestParamInfo<const ColorRowFunctions*>& info) { return info.param->name; }

INSTANTIATE_TEST_SUITE_P(EverySet, ColorRowSets, ::testing::ValuesIn(SupportedColorRows()), SetName);

struct Frame {
    FormatDescriptor format;
    uint32_t width, height;
    int64_t stride;
    std::vector<uint8_t> bytes;
};

Frame MakeFrame(PixelFormat f, uint32_t w, uint32_t h, bool bottomUp)
{
    Frame fr{DescribeFormat(CodeOf(f, true), bottomUp), w, h, 0, {}};
    const bool planar = f == PixelFormat::YV12 || f == PixelFormat::YV16;
    // Planar strides stay even so that chroma rows are whole; packed rows get spare bytes.
    fr.stride = planar ? ((w + 1) & ~1u) + 6 : int64_t(w) * InfoOf(f).bitCount / 8 + 5;
    fr.bytes = Bytes(PictureBytes(fr.format, fr.stride, h), w * h);
    return fr;
}

// The output of one conversion without resampling, direct or through the work planes.
std::vector<uint8_t> Convert(const SCALVO_Config& c, const Frame& in, Frame out, bool direct)
{
    FrameConverter converter;
    GeometryInput input{in.width, in.height, out.width, out.height, in.format, out.format, false};
    converter.Configure(c, input, 1);
    EXPECT_EQ(converter.Geometry().copyOnly, in.width - out.width == c.cropLeft + c.cropRight);
    converter.ConvertDirectly(direct);
    converter.Convert(in.bytes.data(), in.stride, out.bytes.data(), out.stride);
    return out.bytes;
}

TEST(DirectConversion, GivesTheBytesOfTheWorkPlanes)
{
    using F = PixelFormat;
    const std::pair<F, F> pairs[] = {{F::YUY2, F::YV12}, {F::UYVY, F::YV12}, {F::YVYU, F::YV12}, {F::YV16, F::YV12},
                                     {F::RGB24, F::YV12}, {F::RGB32, F::YV12}, {F::RGB24, F::YV16}, {F::YUY2, F::YV16},
                                     {F::YV12, F::RGB32}, {F::YV12, F::RGB24}, {F::YV12, F::YUY2}, {F::YV12, F::UYVY},
                                     {F::YV16, F::RGB32}, {F::YV16, F::YVYU}, {F::YV12, F::YV16}, {F::RGB24, F::YUY2},
                                     {F::RGB32, F::UYVY}, {F::RGB24, F::YVYU}, {F::YV12, F::YV12}, {F::YV16, F::YV16}};
    struct Shape {
        uint32_t w, h;
        uint8_t interlace;
        bool crop;
        bool resize = false;
    };
    // Odd widths and heights, odd field heights (22 / 2 rows and a crop), cropped regions, and
    // resampled fields read from and written to the pictures in place.
    const Shape shapes[] = {{38, 22, 1, false}, {37, 21, 1, false}, {70, 22, 2, false}, {66, 30, 2, true},
                            {48, 20, 1, true},  {66, 30, 2, true, true}, {48, 20, 1, true, true}};
    for (auto [from, to] : pairs) {
        for (const Shape& s : shapes) {
            for (bool bottomUp : {false, true}) {
                SCALVO_Config c{};
                c.sourceWidth = uint16_t(s.w);
                c.sourceHeight = uint16_t(s.h);
                c.sourceArWidth = uint16_t(s.w);
                c.sourceArHeight = uint16_t(s.h);
                c.colorConversion = -1;
                c.interlaceState = s.interlace;
                uint32_t outW = s.w, outH = s.h;
                if (s.crop) {
                    c.croppingOn = -1;
                    c.cropLeft = 4, c.cropTop = 2, c.cropRight = 6, c.cropBottom = 4;
                    outW -= 10, outH -= 6;
                }
                if (s.resize) outW = outW * 2 / 3 & ~1u, outH = outH * 3 / 2 & ~3u;
                const Frame in = MakeFrame(from, s.w, s.h, bottomUp);
                const Frame out = MakeFrame(to, outW, outH, bottomUp);
                const std::string what = std::string(InfoOf(from).name) + " to " + InfoOf(to).name + " " +
                                         std::to_string(s.w) + "x" + std::to_string(s.h) + " " +
                                         std::to_string(s.interlace) + (bottomUp ? " bottom-up" : "");
                ASSERT_EQ(Convert(c, in, out, true), Convert(c, in, out, false)) << what;
            }
        }
    }
}

// An odd number of rows into 4:2:0 planes: the last row has no chroma row of its own, and the
// chroma rows before it stay as computed.
TEST(DirectConversion, OddRowCountKeepsEveryChromaRow)
{
    SCALVO_Config c{};
    c.sourceWidth = 40;
    c.sourceHeight = 5;
    c.sourceArWidth = 8;
    c.sourceArHeight = 1;
    c.colorConversion = -1;
    for (PixelFormat from : {PixelFormat::RGB24, PixelFormat::YUY2}) {
        const Frame in = MakeFrame(from, 40, 5, false);
        Frame out = MakeFrame(PixelFormat::YV12, 40, 5, false);
        out.stride = 40;
        out.bytes.assign(PictureBytes(out.format, 40, 5), 0xEE);
        for (bool direct : {true, false}) {
            const auto bytes = Convert(c, in, out, direct);
            // V plane: 2 rows of 20, then U: 2 rows of 20; nothing is written past them.
            const size_t v = 40 * 5, u = v + 40;
            Frame firstRows = MakeFrame(PixelFormat::YV12, 40, 2, false);
            firstRows.stride = 40;
            firstRows.bytes.assign(PictureBytes(firstRows.format, 40, 2), 0);
            SCALVO_Config two = c;
            two.sourceHeight = 2;
            Frame in2 = in;
            in2.height = 2;
            const auto expected = Convert(two, in2, firstRows, false);
            EXPECT_TRUE(std::equal(expected.begin() + 80, expected.begin() + 100, bytes.begin() + v)) << direct;
            EXPECT_TRUE(std::equal(expected.begin() + 100, expected.begin() + 120, bytes.begin() + u)) << direct;
            EXPECT_EQ(bytes.size(), u + 40);
        }
    }
}

}  // namespace
