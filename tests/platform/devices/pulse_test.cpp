// PulseAudio sources against a private daemon: listing, the source volume as input level,
// capture from the null sink's monitor while pacat plays into the sink, and microphones that
// stall or go away while recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>

#include "capture_harness.h"
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

TEST_F(PulseSources, ListsRealSourcesBeforeMonitorsByDescription)
{
    auto sources = ListPulseSources();
    ASSERT_FALSE(sources.empty());
    EXPECT_EQ(sources[0].description, "VirtualMic");  // a microphone, though the monitor came first
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

    // The level scales the current volume: the balance stays.
    Pactl("set-source-volume vmic 40% 80%");
    ASSERT_TRUE(SetPulseSourceVolume("vmic", 0.5));
    std::string volume = Pactl("get-source-volume vmic");
    EXPECT_NE(volume.find("/  25% /"), std::string::npos) << volume;
    EXPECT_NE(volume.find("/  50% /"), std::string::npos) << volume;
    ASSERT_TRUE(GetPulseSourceVolume("vmic", &read));
    EXPECT_NEAR(read, 0.5, 1e-4);
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
        REFERENCE_TIME taken;
        ASSERT_EQ(microphone->Capture(buffer.data(), 480, 5000, &taken), CaptureResult::Frame);
        for (int16_t v : buffer) peak = std::max(peak, std::abs(int(v)));
    }
    microphone->Stop();
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    EXPECT_GE(peak, 8000);
}

TEST_F(PulseSources, MonitorThroughTheEnumeratorAndCaptureFilter)
{
    auto filter = BindDevice(CLSID_AudioInputDeviceCategory, "Monitor of VirtualSink");
    ASSERT_TRUE(filter);
    auto pin = TwoFilterGraph::CapturePin(filter.Get());

    // The broadcaster's choice: 44100 Hz 16-bit stereo, then the input level.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(config), S_OK);
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    EXPECT_EQ(count, 14);  // 8000 .. 48000 Hz, stereo and mono
    AM_MEDIA_TYPE* first = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(config->GetStreamCaps(0, &first, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(GetWaveFormatEx(*first)->nSamplesPerSec, 44100u);
    EXPECT_EQ(GetWaveFormatEx(*first)->nChannels, 2);
    ASSERT_EQ(config->SetFormat(first), S_OK);
    DeleteMediaType(first);

    ComPtr<IAMAudioInputMixer> mixer;
    ASSERT_EQ(pin.As(mixer), S_OK);
    ASSERT_EQ(mixer->put_MixLevel(0.3), S_OK);
    double level = 0;
    ASSERT_EQ(mixer->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.3, 1e-4);
    ASSERT_EQ(mixer->put_MixLevel(1.0), S_OK);

    auto sink = ComPtr<RecordingSink>(new RecordingSink);
    auto graph = ComPtr<TwoFilterGraph>::Adopt(new TwoFilterGraph);
    ASSERT_EQ(graph->Build(filter.Get(), sink.Get()), S_OK);
    pid_t player = PlayToneIntoSink(daemon_->Dir(), 5);
    ASSERT_EQ(graph->Run(), S_OK);
    int peak = 0;
    for (size_t wanted = 50; wanted <= 300 && peak < 8000; wanted += 50) peak = PeakOf(sink->WaitFor(wanted));
    // A second and a half: the stream's first timing reports come within it.
    auto samples = sink->WaitFor(150);
    graph->TearDown();
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    EXPECT_GE(peak, 8000);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(samples[0].data.size(), 441u * 4);
    // A steady source is stamped back to back from its first sample: no holes in the sound.
    for (size_t i = 1; i < samples.size(); ++i) EXPECT_EQ(samples[i].start, samples[i - 1].stop) << i;
}

TEST_F(PulseSources, StopReturnsWhileTheMicrophoneIsStalled)
{
    auto filter = BindDevice(CLSID_AudioInputDeviceCategory, "VirtualMic");
    CaptureRun run;
    ASSERT_TRUE(filter && run.Start(filter.Get()));
    ASSERT_GE(run.sink->WaitFor(3).size(), 3u);
    Pactl("suspend-source vmic 1");  // a stuck microphone: no more data
    auto stop = std::async(std::launch::async, [&] { run.graph->Stop(); });
    bool stopped = stop.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    Pactl("suspend-source vmic 0");
    ASSERT_TRUE(stopped);
    run.graph->TearDown();
}

TEST_F(PulseSources, AMicrophoneThatGoesIsLostNotSwappedForAnother)
{
    std::string module = Pactl("load-module module-null-source source_name=usbmic "
                               "description=UsbMic");
    auto filter = BindDevice(CLSID_AudioInputDeviceCategory, "UsbMic");
    CaptureRun run;
    ASSERT_TRUE(filter && run.Start(filter.Get()));
    ASSERT_GE(run.sink->WaitFor(3).size(), 3u);
    Pactl("unload-module " + module);  // a Bluetooth microphone switched off
    EXPECT_TRUE(run.sink->WaitForEnd());
    EXPECT_EQ(run.graph->Events()->WaitFor(EC_ERRORABORT), kDeviceNotConnected);
    run.graph->TearDown();
}

}  // namespace
