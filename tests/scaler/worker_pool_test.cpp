#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

TEST(WorkerPool, SecondBatchStartsAfterTheWholeFirstBatch)
{
    // Each job of batch 1 checks that every job of batch 0 of the same round is done; the
    // barrier between them is reused round after round.
    constexpr uint32_t kWorkers = 3, kRounds = 300;
    std::atomic<uint32_t> firstDone{0};
    std::atomic<uint32_t> early{0}, second{0};
    CWorkerPool pool;
    pool.Start(0b111, [&](const ResampleJob& job) {
        if (job.pass == kHorizontalPass) {
            firstDone.fetch_add(1);
        } else {
            if (firstDone.load() != kWorkers * job.first) early.fetch_add(1);
            second.fetch_add(1);
        }
    });
    for (uint32_t round = 1; round <= kRounds; ++round) {
        for (uint32_t k = 0; k < kWorkers; ++k) {
            pool.Job(0, k) = {uint16_t(round), uint16_t(round), kHorizontalPass, 0};
            pool.Job(1, k) = {uint16_t(round), uint16_t(round), kVerticalPass, 0};
        }
        pool.RunJobs(round % 7 ? 2 : 1);  // a single batch now and then must not upset the barrier
        ASSERT_EQ(firstDone.load(), kWorkers * round);
    }
    pool.Stop();
    EXPECT_EQ(early.load(), 0u);
    EXPECT_EQ(second.load(), kWorkers * (kRounds - kRounds / 7));
}

TEST(WorkerPool, LargePlanesSplitOnBlocksAndCacheLines)
{
    // Sizes where the aligned boundaries differ from even shares, a plane narrower than one
    // cache line per worker (some workers get nothing), and destinations at every kind of
    // offset from a cache line.
    const uint32_t sizes[][4] = {{1001, 70, 333, 41}, {333, 41, 1001, 70}, {50, 37, 40, 29}, {200, 20, 640, 12}};
    for (int method : {0, 2})
        for (const auto& s : sizes) {
            std::vector<uint8_t> src(s[0] * s[1]);
            std::mt19937 gen(s[0]);
            for (auto& x : src) x = uint8_t(gen());
            const auto expected = reference::Resample(method, src, s[0], s[1], s[2], s[3]);
            auto many = CreateResampler(method);
            ASSERT_TRUE(many->Initialize(s[1], s[0], s[3], s[2], 0b1111));
            alignas(64) static uint8_t buffer[64 + 1001 * 70];
            for (size_t offset : {0, 1, 17, 63}) {
                uint8_t* out = buffer + offset;
                std::fill(out, out + expected.size(), 0xEE);
                many->Process(src.data(), out);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out))
                    << s[0] << "x" << s[1] << " offset " << offset;
            }
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
