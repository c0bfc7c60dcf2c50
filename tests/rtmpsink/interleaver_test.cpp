// The interleaver under concurrent producers and one consumer, as the pins and the output
// thread use it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mux_interleaver.h"

namespace {

using namespace std::chrono_literals;

PacketPtr Packet(int32_t stream, REFERENCE_TIME start, bool endOfStream = false)
{
    PacketPtr packet = CMuxInterPacket::Create(0);
    packet->streamIndex = stream;
    packet->start = start;
    packet->endOfStream = endOfStream;
    return packet;
}

bool Produce(CMuxInterleaver& interleaver, PacketPtr packet)
{
    int32_t stream = packet->streamIndex;
    return interleaver.WaitForRoom(stream, [] { return false; }) && interleaver.QueuePacket(std::move(packet));
}

}  // namespace

TEST(Interleaver, ConcurrentInputsComeOutInTimeOrderAndWhole)
{
    CMuxInterleaver interleaver;
    ASSERT_EQ(interleaver.AddStream(), 0);
    ASSERT_EQ(interleaver.AddStream(), 1);
    constexpr int kVideo = 500, kAudio = 870;
    std::thread video([&] {
        for (int i = 0; i < kVideo; ++i) ASSERT_TRUE(Produce(interleaver, Packet(0, i * 400000LL)));
        Produce(interleaver, Packet(0, 0, true));
    });
    std::thread audio([&] {
        for (int i = 0; i < kAudio; ++i) ASSERT_TRUE(Produce(interleaver, Packet(1, i * 232199LL)));
        Produce(interleaver, Packet(1, 0, true));
    });
    std::vector<REFERENCE_TIME> order;
    int counts[2] = {0, 0};
    for (;;) {
        PacketPtr packet;
        int result = interleaver.GetNextPacket(30ms, packet);
        if (result == CMuxInterleaver::kEnd) break;
        ASSERT_NE(result, CMuxInterleaver::kAbort);
        if (result != CMuxInterleaver::kPacket) continue;
        order.push_back(packet->start);
        ++counts[packet->streamIndex];
    }
    video.join();
    audio.join();
    EXPECT_EQ(counts[0], kVideo);
    EXPECT_EQ(counts[1], kAudio);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(Interleaver, EqualTimesFavourTheEarlierStream)
{
    CMuxInterleaver interleaver;
    interleaver.AddStream();
    interleaver.AddStream();
    ASSERT_TRUE(interleaver.QueuePacket(Packet(1, 100)));
    ASSERT_TRUE(interleaver.QueuePacket(Packet(0, 100)));
    EXPECT_FALSE(interleaver.QueuePacket(Packet(2, 100)));
    PacketPtr packet;
    ASSERT_EQ(interleaver.GetNextPacket(30ms, packet), CMuxInterleaver::kPacket);
    EXPECT_EQ(packet->streamIndex, 0);
}

TEST(Interleaver, StalledInputBlocksTheOtherUntilAbort)
{
    CMuxInterleaver interleaver;
    interleaver.AddStream();
    interleaver.AddStream();
    std::atomic<int> queued{0};
    std::atomic<bool> refused{false};
    std::thread audio([&] {
        for (int i = 0; i < 60; ++i) {
            if (!Produce(interleaver, Packet(1, i))) {
                refused = true;
                return;
            }
            ++queued;
        }
    });
    // Without video nothing comes out, and audio stops at the queue limit.
    PacketPtr packet;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(interleaver.GetNextPacket(30ms, packet), CMuxInterleaver::kTimeout);
    while (queued < int(CMuxInterStream::kMaxQueue)) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(queued, int(CMuxInterStream::kMaxQueue));
    interleaver.SetAbort();
    audio.join();
    EXPECT_TRUE(refused);
    EXPECT_EQ(interleaver.GetNextPacket(30ms, packet), CMuxInterleaver::kAbort);
}

TEST(Interleaver, RemovingStreamsReleasesWaitingInputs)
{
    CMuxInterleaver interleaver;
    interleaver.AddStream();
    for (size_t i = 0; i < CMuxInterStream::kMaxQueue; ++i) ASSERT_TRUE(interleaver.QueuePacket(Packet(0, 0)));
    std::atomic<bool> released{false};
    std::thread input([&] {
        EXPECT_FALSE(interleaver.WaitForRoom(0, [] { return false; }));
        released = true;
    });
    std::this_thread::sleep_for(50ms);
    interleaver.RemoveAllStreams();
    input.join();
    EXPECT_TRUE(released);
    PacketPtr packet;
    // With no streams left, output is over.
    EXPECT_EQ(interleaver.GetNextPacket(30ms, packet), CMuxInterleaver::kEnd);
}
