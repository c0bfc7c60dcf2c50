#include <gtest/gtest.h>

#include <random>

#include "kernels/resampling.h"
#include "reference_kernels.h"

namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& x : v) x = uint8_t(gen());
    return v;
}

std::vector<uint8_t> Resize(int method, const std::vector<uint8_t>& src, uint32_t sw, uint32_t sh, uint32_t dw,
                         uint32_t dh, uint32_t mask = 1, double kh = 0, double kv = 0)
{
    auto r = CreateResampler(method);
    EXPECT_TRUE(r->InitializePanorama(sh, sw, dh, dw, mask, kh, kv));
    std::vector<uint8_t> dst(size_t(dw) * dh, 0xEE);
    r->Process(src.data(), dst.data());
    return dst;
}

TEST(Kernels, BilinearHandValues)
{
    // 3 -> 2 lands on the first and last samples; 2 -> 3 puts the middle at phase one half.
    EXPECT_EQ(Resize(0, {0, 100, 200}, 3, 1, 2, 1), (std::vector<uint8_t>{0, 200}));
    EXPECT_EQ(Resize(0, {0, 200}, 2, 1, 3, 1), (std::vector<uint8_t>{0, 100, 200}));
    // Truncation, no rounding: 1 and 2 at phase one half give (32768 + 65536) >> 16 = 1.
    EXPECT_EQ(Resize(0, {1, 2}, 2, 1, 3, 1), (std::vector<uint8_t>{1, 1, 2}));
}

TEST(Kernels, BicubicSmoothsAtEqualSizeWithUnnormalisedWeights)
{
    // Weights 3641, 58254, 3641 (1/18, 8/9, 1/18): a lone 180 spreads to its neighbours.
    std::vector<uint8_t> row{0, 0, 180, 0, 0};
    auto out = Resize(1, row, 5, 1, 5, 1);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 10, 160, 10, 0}));
    // Bilinear reproduces the source exactly at equal size.
    auto src = Noise(9 * 7, 3);
    EXPECT_EQ(Resize(0, src, 9, 7, 9, 7), src);
}

TEST(Kernels, EveryKernelMatchesReferenceOnOddSizes)
{
    const uint32_t sizes[][4] = {{7, 5, 4, 3},  {5, 4, 9, 7},  {13, 11, 13, 11}, {1, 1, 5, 3}, {6, 2, 1, 1},
                                 {2, 2, 3, 3},  {17, 3, 5, 8}, {40, 30, 13, 9},  {3, 9, 31, 2}, {33, 1, 7, 1}};
    for (int method : {-1, 0, 1, 2})
        for (const auto& s : sizes) {
            auto src = Noise(size_t(s[0]) * s[1], s[0] * 31 + s[2]);
            SCOPED_TRACE(testing::Message() << "method " << method << " " << s[0] << "x" << s[1] << " -> " << s[2]
                                            << "x" << s[3]);
            EXPECT_EQ(Resize(method, src, s[0], s[1], s[2], s[3]), reference::Resample(method, src, s[0], s[1], s[2], s[3]));
        }
}

TEST(Kernels, LanczosWidensItsWindowWhenHalvingOrMore)
{
    // 1920 -> 640 needs 18 taps, 1920 -> 1280 six; the reference derives them on its own.
    auto src = Noise(1920 * 2, 7);
    EXPECT_EQ(Resize(2, src, 1920, 2, 640, 2), reference::Resample(2, src, 1920, 2, 640, 2));
    EXPECT_EQ(Resize(2, src, 1920, 2, 1280, 2), reference::Resample(2, src, 1920, 2, 1280, 2));
}

TEST(Kernels, PanoramicMappingMatchesReference)
{
    auto src = Noise(48 * 27, 11);
    for (int method : {0, 1, 2})
        for (double k : {0.8, 1.25}) {
            SCOPED_TRACE(testing::Message() << "method " << method << " k " << k);
            EXPECT_EQ(Resize(method, src, 48, 27, 33, 19, 1, k, 2 - k),
                      reference::Resample(method, src, 48, 27, 33, 19, k, 2 - k));
        }
}

TEST(Kernels, SingleDestinationSampleTakesTheSourceCentre)
{
    std::vector<uint8_t> row{10, 20, 30, 40, 50};
    EXPECT_EQ(Resize(0, row, 5, 1, 1, 1), (std::vector<uint8_t>{30}));
    EXPECT_EQ(Resize(-1, row, 5, 1, 1, 1), (std::vector<uint8_t>{30}));
    // Panoramic coefficients on a one-sample axis fall back to the centre too.
    EXPECT_EQ(Resize(1, row, 5, 1, 1, 1, 1, 1.3, 0.7).size(), 1u);
}

TEST(Kernels, HostileCoefficientsStayInsideThePlane)
{
    auto src = Noise(20 * 10, 5);
    for (double k : {-3.0, 1e-9, 1e9, std::nan("")}) {
        auto out = Resize(2, src, 20, 10, 31, 17, 1, k, k);
        EXPECT_EQ(out.size(), 31u * 17u);
    }
}

TEST(Kernels, FactoryKnowsFourMethods)
{
    EXPECT_NE(CreateResampler(-1), nullptr);
    EXPECT_NE(CreateResampler(2), nullptr);
    EXPECT_EQ(CreateResampler(3), nullptr);
    EXPECT_EQ(CreateResampler(-2), nullptr);
    auto r = CreateResampler(0);
    EXPECT_FALSE(r->Initialize(70000, 4, 4, 4, 1));
    EXPECT_TRUE(r->Initialize(0, 4, 4, 4, 1));  // an empty plane is nothing to do
    std::vector<uint8_t> out(16, 9);
    r->Process(nullptr, out.data());
    EXPECT_EQ(out[0], 9);
}

}  // namespace

namespace {

// Every vector level against the plain row functions: widths and heights off the 8/16-row
// blocks and the 16/32-column steps, both directions, tap counts from 2 to 18 and beyond 255
// (Lanczos widens its window when halving), and the panoramic tables with their mirrored entries.
TEST(Kernels, VectorPathsMatchThePlainRowFunctions)
{
    struct Case {
        uint32_t sw, sh, dw, dh;
        double kh, kv;
    };
    const Case cases[] = {{37, 29, 23, 41, 0, 0},     {1920, 17, 640, 9, 0, 0},  {15, 8, 33, 8, 0, 0},
                          {101, 23, 100, 23, 0, 0},   {131, 70, 47, 33, 0, 0},   {45, 40, 97, 81, 0, 0},
                          {200, 61, 61, 200, 0, 0},   {96, 54, 131, 75, 0.8, 1.25}, {131, 75, 96, 54, 1.3, 0.7},
                          {33, 47, 31, 16, 0, 0},     {1100, 600, 4, 2, 0, 0}};
    for (int method : {0, 1, 2})
        for (const Case& c : cases) {
            auto src = Noise(size_t(c.sw) * c.sh, c.sh);
            auto plain = CreateResampler(method);
            dynamic_cast<CSeparableResampling&>(*plain).UseSimd(SimdLevel::kPlain);
            ASSERT_TRUE(plain->InitializePanorama(c.sh, c.sw, c.dh, c.dw, 1, c.kh, c.kv));
            std::vector<uint8_t> expected(size_t(c.dw) * c.dh);
            plain->Process(src.data(), expected.data());
            for (SimdLevel level : {SimdLevel::kAvx2, SimdLevel::kAvx512, SimdLevel::kAvx512Vnni}) {
                auto fast = CreateResampler(method);
                dynamic_cast<CSeparableResampling&>(*fast).UseSimd(level);
                ASSERT_TRUE(fast->InitializePanorama(c.sh, c.sw, c.dh, c.dw, 1, c.kh, c.kv));
                std::vector<uint8_t> out(expected.size(), 0xEE);
                fast->Process(src.data(), out.data());
                EXPECT_EQ(out, expected) << "method " << method << " level " << int(level) << " " << c.sw << "x"
                                         << c.sh << " -> " << c.dw << "x" << c.dh;
            }
        }
}

TEST(Kernels, VectorPathsClampBothEnds)
{
    // A lone bright sample in a dark field (and the reverse) drives the signed Lanczos and
    // bicubic sums below zero and above 255 at once; all levels must clamp alike.
    const uint32_t sw = 67, sh = 35, dw = 150, dh = 77;
    for (uint8_t field : {uint8_t(0), uint8_t(255)}) {
        std::vector<uint8_t> src(sw * sh, field);
        for (uint32_t y = 3; y < sh; y += 7)
            for (uint32_t x = y % 5; x < sw; x += 6) src[y * sw + x] = uint8_t(255 - field);
        for (int method : {1, 2}) {
            std::vector<uint8_t> outs[4];
            for (int level = 0; level < 4; ++level) {
                auto r = CreateResampler(method);
                dynamic_cast<CSeparableResampling&>(*r).UseSimd(SimdLevel(level));
                ASSERT_TRUE(r->Initialize(sh, sw, dh, dw, 1));
                outs[level].assign(dw * dh, 0xEE);
                r->Process(src.data(), outs[level].data());
            }
            EXPECT_EQ(outs[1], outs[0]) << "method " << method;
            EXPECT_EQ(outs[2], outs[0]) << "method " << method;
            EXPECT_EQ(outs[3], outs[0]) << "method " << method;
            EXPECT_EQ(outs[0], reference::Resample(method, src, sw, sh, dw, dh));
        }
    }
}

}  // namespace
