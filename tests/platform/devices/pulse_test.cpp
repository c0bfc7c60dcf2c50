// PulseAudio sources against a private daemon: listing, the source volume as input level, and
// capture from the null sink's monitor while pacat plays into the sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "devices/pulse_microphone.h"
#include "pulse_daemon.h"

namespace {

class PulseSources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemon_ = new PulseDaemon; }
    static void TearDownTestSuite() { delete daemon_; }
    void SetUp() override
    {
        if (!daemon_->Ready()) GTEST_SKIP() << "pulseaudio did not start";
    }
    static PulseDaemon* daemon_;
};
PulseDaemon* PulseSources::daemon_ = nullptr;

TEST_F(PulseSources, ListsTheMonitorByDescription)
{
    auto sources = ListPulseSources();
    auto monitor = std::find_if(sources.begin(), sources.end(), [](auto& s) { return s.name == "vsink.monitor"; });
    ASSERT_NE(monitor, sources.end());
    EXPECT_EQ(monitor->description, "Monitor of VirtualSink");
    EXPECT_TRUE(monitor->monitor);
    // Real sources come first.
    EXPECT_TRUE(std::is_partitioned(sources.begin(), sources.end(), [](auto& s) { return !s.monitor; }));
}

TEST_F(PulseSources, VolumeRoundTripsAndRejectsBadInput)
{
    for (double level : {0.25, 0.507, 1.0, 0.0}) {
        ASSERT_TRUE(SetPulseSourceVolume("vsink.monitor", level));
        double read = -1;
        ASSERT_TRUE(GetPulseSourceVolume("vsink.monitor", &read));
        EXPECT_NEAR(read, level, 1e-4);
    }
    EXPECT_FALSE(SetPulseSourceVolume("vsink.monitor", 1.5));
    EXPECT_FALSE(SetPulseSourceVolume("vsink.monitor", -0.1));
    double read;
    EXPECT_FALSE(GetPulseSourceVolume("no.such.source", &read));
    EXPECT_FALSE(SetPulseSourceVolume("no.such.source", 0.5));
    ASSERT_TRUE(SetPulseSourceVolume("vsink.monitor", 1.0));
}

TEST_F(PulseSources, CapturesWhatIsPlayedIntoTheSink)
{
    auto microphone = OpenPulseMicrophone("vsink.monitor");
    std::string error;
    ASSERT_TRUE(microphone->Start({48000, 2}, 480, &error)) << error;
    pid_t player = PlayToneIntoSink(daemon_->Dir(), 5);
    int peak = 0;
    std::vector<int16_t> buffer(480 * 2);
    for (int i = 0; i < 300 && peak < 8000; ++i) {
        ASSERT_EQ(microphone->Capture(buffer.data(), 480), CaptureResult::Frame);
        for (int16_t v : buffer) peak = std::max(peak, std::abs(int(v)));
    }
    microphone->Stop();
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    EXPECT_GE(peak, 8000);
}

}  // namespace
