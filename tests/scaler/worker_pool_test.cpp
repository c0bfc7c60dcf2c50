#include <gtest/gtest.h>

#include <random>

#include "kernels/resampling.h"
#include "reference_kernels.h"

namespace {

TEST(WorkerPool, OneWorkerPerSetBit)
{
    auto r = CreateResampler(1);
    ASSERT_TRUE(r->Initialize(8, 8, 4, 4, 0b1));
    EXPECT_EQ(r->WorkerCount(), 1u);
    ASSERT_TRUE(r->Initialize(8, 8, 4, 4, 0b1010'0101));
    EXPECT_EQ(r->WorkerCount(), 4u);
    ASSERT_TRUE(r->Initialize(8, 8, 4, 4, 0));
    EXPECT_EQ(r->WorkerCount(), 1u);
}

TEST(WorkerPool, SplitWorkGivesTheSameFrameAsOneWorker)
{
    // Ranges that do not divide evenly, more workers than rows, and repeated frames.
    std::mt19937 gen(1);
    for (int method : {-1, 0, 1, 2})
        for (uint32_t mask : {0b11u, 0b111u, 0xFFu}) {
            const uint32_t sw = 101, sh = 5, dw = 67, dh = 13;
            std::vector<uint8_t> src(sw * sh);
            for (auto& x : src) x = uint8_t(gen());
            auto one = CreateResampler(method), many = CreateResampler(method);
            ASSERT_TRUE(one->Initialize(sh, sw, dh, dw, 1));
            ASSERT_TRUE(many->Initialize(sh, sw, dh, dw, mask));
            std::vector<uint8_t> a(dw * dh), b(dw * dh);
            for (int frame = 0; frame < 3; ++frame) {
                one->Process(src.data(), a.data());
                many->Process(src.data(), b.data());
                ASSERT_EQ(a, b) << "method " << method << " mask " << mask;
            }
            EXPECT_EQ(a, reference::Resample(method, src, sw, sh, dw, dh));
        }
}

TEST(WorkerPool, ReinitialisingReplacesTheWorkers)
{
    auto r = CreateResampler(2);
    std::vector<uint8_t> src(64 * 64, 77), dst(32 * 32);
    for (uint32_t mask : {0b11u, 0b1u, 0b111u}) {
        ASSERT_TRUE(r->Initialize(64, 64, 32, 32, mask));
        r->Process(src.data(), dst.data());
        EXPECT_EQ(dst[17], 77);
    }
}

}  // namespace
