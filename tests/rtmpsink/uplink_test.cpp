// A broadcast over an uplink narrower than the stream, then over one back at full speed, to
// nginx in a private network namespace whose loopback is shaped by tbf (needs root). The long
// run: registered with ctest only when VELTRO_LONG_TESTS is on.
//   VELTRO_UPLINK_NARROW_SECONDS  seconds on the narrow link (default 60)
#include <gtest/gtest.h>

#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "sink_harness.h"
#include "test_peers.h"

namespace {

using namespace std::chrono_literals;

constexpr int kRecoverySeconds = 20;
constexpr const char* kNarrowLink = "tbf rate 120kbit burst 16kbit latency 2000ms";
constexpr const char* kFullLink = "tbf rate 1gbit burst 1mbit latency 50ms";

int NarrowSeconds()
{
    const char* text = std::getenv("VELTRO_UPLINK_NARROW_SECONDS");
    int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 60;
}

// About 155 kbit/s: 320x240 H.264 near 100 kbit/s with a key frame every 2 s, AAC at 48 kbit/s.
EncodedStreams MakeStreams(int seconds)
{
    std::string file = MakeTempDir() + "/source.flv";
    RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
               "sine=frequency=440:sample_rate=44100 -t " + std::to_string(seconds) +
               " -c:v libx264 -preset veryfast -b:v 100k -maxrate 110k -bufsize 200k -g 50 -pix_fmt yuv420p "
               "-c:a aac -b:a 48k -ac 2 -f flv '" + file + "'");
    return ReadFlvFile(file);
}

int CountOf(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(NarrowUplink, StaysConnectedWithContinuousAudioAndCatchesUpAtFullSpeed)
{
    // Before any thread starts: every thread and child made later shares this network. The
    // loopback keeps its MTU of 64 KiB: segments larger than the bucket never pass tbf, so the
    // sink must send segments an uplink passes whatever the interface says.
    if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "needs root for a private network namespace";
    ASSERT_EQ(RunCommand("ip link set lo up && tc qdisc add dev lo root " + std::string(kNarrowLink)), 0);

    int narrow = NarrowSeconds();
    EncodedStreams streams = MakeStreams(narrow + kRecoverySeconds);
    ASSERT_FALSE(streams.video.empty());
    std::string dir = MakeTempDir();
    NginxRtmpServer nginx(dir);
    ASSERT_TRUE(nginx.Start());
    std::string logDir = dir + "/";

    SinkHarness sink;
    sink.Control()->SetLogFolder(logDir.c_str());
    sink.Control()->SetConnectionString(nginx.Url("live/@cam").c_str());
    ASSERT_EQ(sink.Control()->Connect(), 0);
    auto* source = new TestSource(&streams.video, AvcMediaType(streams, 320, 240, 400000), &streams.audio,
                                  AacMediaType(streams, 2, 44100), true);
    source->AddRef();
    ASSERT_TRUE(sink.ConnectAndRun(source));
    // As after a reconnection: the socket non-blocking, the stream started again.
    sink.Control()->StartStream();

    // The session must hold on the narrow link: the connection state is polled as the program does.
    int lostPolls = 0;
    auto started = std::chrono::steady_clock::now();
    bool widened = false;
    while (!source->Finished()) {
        std::this_thread::sleep_for(200ms);
        uint8_t state = 0;
        sink.Control()->GetConnectionState(&state);
        lostPolls += state != 1;
        if (!widened && std::chrono::steady_clock::now() - started > std::chrono::seconds(narrow)) {
            widened = true;
            EXPECT_EQ(RunCommand("tc qdisc change dev lo root " + std::string(kFullLink)), 0);
        }
    }
    sink.WaitUntilSent(source, 30);
    EXPECT_EQ(lostPolls, 0);
    sink.StopGraph(source);
    sink.Control()->Disconnect();
    source->Release();
    nginx.Stop();

    std::string log = ReadTextFile(logDir + "rtmp.log");
    EXPECT_EQ(log.find("SocketError"), std::string::npos) << log;
    EXPECT_NE(log.find("uplink too slow"), std::string::npos) << log;
    EXPECT_EQ(CountOf(ReadTextFile(dir + "/logs/error.log"), "publish: name='cam'"), 1);

    // Audio continuous at the server: every frame, no gap longer than one frame.
    EncodedStreams received = ReadFlvFile(nginx.RecordPath("cam"));
    EXPECT_EQ(received.audio.size(), streams.audio.size());
    REFERENCE_TIME largestGap = 0;
    for (size_t i = 1; i < received.audio.size(); ++i)
        largestGap = std::max(largestGap, received.audio[i].start - received.audio[i - 1].start);
    EXPECT_LE(largestGap, 300000) << "audio gap of " << largestGap / 10000 << " ms";

    // Caught up: from a few seconds after the link widened, every picture arrived.
    REFERENCE_TIME settled = (narrow + 6) * 10000000LL;
    size_t sent = 0, arrived = 0;
    for (const EncodedUnit& unit : streams.video) sent += unit.decoding >= settled;
    for (const EncodedUnit& unit : received.video) arrived += unit.decoding >= settled;
    EXPECT_EQ(arrived, sent);
    std::printf("video pictures sent %zu, recorded %zu; audio frames %zu of %zu\n", streams.video.size(),
                received.video.size(), received.audio.size(), streams.audio.size());
}
