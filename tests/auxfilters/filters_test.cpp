#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "aux_filters.h"
#include "graph_support.h"
#include "h264/dropped_frames.h"
#include "h264_decode.h"
#include "test_support.h"

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps

}  // namespace

TEST(Filters, EncodersAndMultiplexerRecordAPlayableFile)
{
    ScratchHome home;
    SetRegistryDword("Software\\MONOGRAM\\MONOGRAM x264 Encoder", "KeyIntMax", 25);
    SetRegistryDword("Software\\MONOGRAM\\MONOGRAM AAC Encoder", "Bitrate", 96000);
    const std::string path = home.File("recording.mp4");
    const int w = 320, h = 240;
    TestSource video(Yuy2Type(w, h, kFrame, 16, 9), w * h * 2);
    TestSource audio(PcmType(48000, 2), 48000 * 4 / 50);
    auto x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
    auto aac = LoadFilter("aacenc.dll", CLSID_MonogramAAC);
    auto mux = LoadFilter("tmp4mux.ax", CLSID_MP4Muxer);
    ASSERT_TRUE(x264 && aac && mux);
    TestSink file(path);
    ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(audio.Output(), PinAt(aac.Get(), 0)), S_OK);
    // Audio first: the multiplexer's inputs take either kind.
    ASSERT_EQ(ConnectPins(PinAt(aac.Get(), 1), PinAt(mux.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), PinAt(mux.Get(), 1)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(mux.Get(), 2), file.Input()), S_OK);

    const std::vector<IBaseFilter*> all = {file.Filter(), mux.Get(), x264.Get(), aac.Get(), video.Filter(), audio.Filter()};
    RunAll(all);
    for (int i = 0; i < 100; ++i) {  // 4 seconds
        ASSERT_EQ(video.Push(Yuy2Frame(w, h, i), i * kFrame, (i + 1) * kFrame), S_OK);
        for (int k = 0; k < 2; ++k) {
            const REFERENCE_TIME t = i * kFrame + k * 200000;
            ASSERT_EQ(audio.Push(StereoPcm(960, 1000, -1000), t, t + 200000), S_OK);
        }
    }
    video.EndOfStream();
    audio.EndOfStream();
    EXPECT_TRUE(file.Ended());
    StopAll(all);

    const std::string streams = RunCommand("ffprobe -v error -show_entries stream=codec_name,width,height,"
                                           "sample_aspect_ratio,sample_rate,channels:format=duration -of csv=p=0 '" +
                                           path + "'");
    // The type declares 16:9 (the host's fixed setting) for a 4:3 picture: pixels stay square.
    EXPECT_TRUE(streams.find("h264,320,240,N/A") != std::string::npos ||
                streams.find("h264,320,240,1:1") != std::string::npos)
        << streams;
    EXPECT_NE(streams.find("aac,48000,2"), std::string::npos) << streams;
    const double duration = std::stod(streams.substr(streams.rfind('\n', streams.size() - 2) + 1));
    EXPECT_NEAR(duration, 4.0, 0.2);
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
}

TEST(Filters, H264OutputCarriesSequenceHeaderAndSampleTimes)
{
    ScratchHome home;
    const int w = 160, h = 120;
    TestSource video(Yuy2Type(w, h, kFrame, 4, 3), w * h * 2);
    auto x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
    ASSERT_TRUE(x264);
    TestSink sink;
    ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), sink.Input()), S_OK);
    const CMediaType& type = sink.Type();
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_AVC1);
    ASSERT_EQ(type.formattype, FORMAT_MPEG2Video);
    const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
    EXPECT_EQ(info->hdr.bmiHeader.biWidth, w);
    EXPECT_EQ(info->hdr.bmiHeader.biHeight, h);
    EXPECT_EQ(info->hdr.AvgTimePerFrame, kFrame);
    const auto header = GetSequenceHeader(type);
    ASSERT_GT(header.size(), 8u);
    const size_t spsLength = header[0] << 8 | header[1];
    EXPECT_EQ(header[2] & 0x1F, 7);                  // SPS
    EXPECT_EQ(header[4 + spsLength] & 0x1F, 8);      // then PPS

    const std::vector<IBaseFilter*> all = {sink.Filter(), x264.Get(), video.Filter()};
    RunAll(all);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(video.Push(Yuy2Frame(w, h, i), i * kFrame, (i + 1) * kFrame), S_OK);
    video.EndOfStream();
    StopAll(all);
    const auto samples = sink.Samples();
    ASSERT_EQ(samples.size(), 50u);
    EXPECT_TRUE(samples[0].sync);
    std::vector<std::vector<uint8_t>> payloads;
    std::set<REFERENCE_TIME> presented;
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto& s = samples[i];
        EXPECT_TRUE(s.hasEncoderTimes);
        // Start times rise in the order the samples leave, as a sink interleaving by start
        // time needs; the capture time is the presentation time.
        EXPECT_EQ(s.start, s.decoding);
        if (i > 0) EXPECT_GT(s.start, samples[i - 1].start);
        EXPECT_LE(s.decoding, s.presentation);
        presented.insert(s.presentation);
        payloads.push_back(s.bytes);
    }
    EXPECT_EQ(*presented.begin(), 0);
    EXPECT_EQ(*presented.rbegin(), 49 * kFrame);
    const DecodedVideo decoded = DecodeH264(std::vector<uint8_t>(header.begin(), header.end()), payloads);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, 50);
}

TEST(Filters, H264EncoderDropsAndCountsFramesThatArriveLate)
{
    ScratchHome home;
    const int w = 64, h = 48;
    TestSource video(Yuy2Type(w, h, kFrame, 4, 3), w * h * 2);
    auto x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
    ASSERT_TRUE(x264);
    ComPtr<IDroppedFrames> dropped = ComPtr<IBaseFilter>(x264).As<IDroppedFrames>();
    ASSERT_TRUE(dropped);
    TestSink sink;
    ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), sink.Input()), S_OK);
    const std::vector<IBaseFilter*> all = {sink.Filter(), x264.Get(), video.Filter()};
    RunAllOnClock(all);
    // Frames stamped ten seconds before the run began are behind the clock whatever the
    // machine's speed; frames stamped far ahead of it are never late.
    const REFERENCE_TIME past = -100000000, future = 1000000000;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(video.Push(Yuy2Frame(w, h, i), past + i * kFrame, past + (i + 1) * kFrame), S_OK);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(video.Push(Yuy2Frame(w, h, i), future + i * kFrame, future + (i + 1) * kFrame), S_OK);
    video.Push(Yuy2Frame(w, h, 10), past, past + kFrame);  // late again after encoded frames
    video.EndOfStream();
    ULONGLONG count = 0;
    ASSERT_EQ(dropped->GetDroppedFrames(&count), S_OK);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(dropped->GetDroppedFrames(nullptr), E_POINTER);
    StopAll(all);
    const auto samples = sink.Samples();
    ASSERT_EQ(samples.size(), 10u);
    for (const auto& s : samples) EXPECT_GE(s.presentation, future);
    EXPECT_TRUE(samples.front().sync);

    // A new run counts afresh.
    RunAllOnClock(all);
    ASSERT_EQ(dropped->GetDroppedFrames(&count), S_OK);
    EXPECT_EQ(count, 0u);
    StopAll(all);
}

// A type change on a sample while encoding is refused by both encoders; what they had
// encoded, held-back frames included, still goes out, under the output type they announced.
TEST(Filters, EncodersRefuseATypeChangeInTheStream)
{
    ScratchHome home;
    const int w = 160, h = 120;
    TestSource video(Yuy2Type(w, h, kFrame, 4, 3), w * h * 2 * 4);
    TestSource audio(PcmType(48000, 2), 48000 * 4 / 10);
    auto x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
    auto aac = LoadFilter("aacenc.dll", CLSID_MonogramAAC);
    ASSERT_TRUE(x264 && aac);
    TestSink videoSink, audioSink;
    ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), videoSink.Input()), S_OK);
    ASSERT_EQ(ConnectPins(audio.Output(), PinAt(aac.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(aac.Get(), 1), audioSink.Input()), S_OK);
    const std::vector<IBaseFilter*> all = {videoSink.Filter(), audioSink.Filter(), x264.Get(), aac.Get(),
                                           video.Filter(), audio.Filter()};
    RunAll(all);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(video.Push(Yuy2Frame(w, h, i), i * kFrame, (i + 1) * kFrame), S_OK);
    const CMediaType bigger = Yuy2Type(2 * w, 2 * h, kFrame, 4, 3);
    EXPECT_NE(video.Push(Yuy2Frame(2 * w, 2 * h, 10), 10 * kFrame, 11 * kFrame, &bigger), S_OK);
    EXPECT_TRUE(videoSink.Ended());
    EXPECT_EQ(videoSink.Samples().size(), 10u);

    // Half a second at 48 kHz, then a sample that says 44.1 kHz.
    for (int i = 0; i < 5; ++i) ASSERT_EQ(audio.Push(StereoPcm(4800, 1000, -1000), i * 1000000, (i + 1) * 1000000), S_OK);
    const CMediaType slower = PcmType(44100, 2);
    EXPECT_NE(audio.Push(StereoPcm(4410, 1000, -1000), 5000000, 6000000, &slower), S_OK);
    EXPECT_TRUE(audioSink.Ended());
    const auto frames = audioSink.Samples();
    ASSERT_FALSE(frames.empty());
    // The 24000 samples, to the last one, in frames known by their start.
    const int64_t frameTime = 1024 * 10000000LL / 48000;
    EXPECT_GE(frames.back().start + frameTime, 5000000);
    EXPECT_LT(frames.back().start, 5000000 + frameTime);
    StopAll(all);
}

TEST(Filters, TeeDeliversTheSameSamplesToEveryOutput)
{
    TestSource source(PcmType(44100, 2), 4096);
    auto tee = LoadFilter("KeshInfTee.ax", CLSID_KeshInfTee);
    ASSERT_TRUE(tee);
    TestSink a, b;
    ASSERT_EQ(ConnectPins(source.Output(), PinAt(tee.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(tee.Get(), 1), a.Input()), S_OK);
    ASSERT_NE(PinAt(tee.Get(), 2), nullptr);  // a fresh output for the next connection
    ASSERT_EQ(ConnectPins(PinAt(tee.Get(), 2), b.Input()), S_OK);
    EXPECT_NE(PinAt(tee.Get(), 3), nullptr);
    const std::vector<IBaseFilter*> all = {a.Filter(), b.Filter(), tee.Get(), source.Filter()};
    RunAll(all);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(source.Push(StereoPcm(441, int16_t(i), 0), i * 100000, (i + 1) * 100000), S_OK);
    StopAll(all);
    const auto first = a.Samples(), second = b.Samples();
    ASSERT_EQ(first.size(), 10u);
    ASSERT_EQ(second.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(first[i].identity, second[i].identity);  // one sample object, no copy
        EXPECT_EQ(first[i].bytes, second[i].bytes);
        EXPECT_EQ(first[i].start, REFERENCE_TIME(i) * 100000);
    }
}

TEST(Filters, LimiterPassesEverySecondFrameWhenHalving)
{
    TestSource source(Yuy2Type(16, 16, kFrame, 1, 1), 16 * 16 * 2);
    auto limiter = LoadFilter("KeshControlFps.ax", CLSID_KeshControlFps);
    ASSERT_TRUE(limiter);
    ComPtr<IControlFps> control = ComPtr<IBaseFilter>(limiter).As<IControlFps>();
    ASSERT_TRUE(control);
    TestSink sink;
    ASSERT_EQ(ConnectPins(source.Output(), PinAt(limiter.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(limiter.Get(), 1), sink.Input()), S_OK);
    const std::vector<IBaseFilter*> all = {sink.Filter(), limiter.Get(), source.Filter()};
    RunAll(all);
    for (int i = 0; i < 4; ++i) source.Push(Yuy2Frame(16, 16, i), i * kFrame, (i + 1) * kFrame);
    control->SetHalfFrameRate(TRUE);
    for (int i = 4; i < 10; ++i) source.Push(Yuy2Frame(16, 16, i), i * kFrame, (i + 1) * kFrame);
    control->SetHalfFrameRate(FALSE);
    source.Push(Yuy2Frame(16, 16, 10), 10 * kFrame, 11 * kFrame);
    StopAll(all);
    std::vector<REFERENCE_TIME> starts;
    for (const auto& s : sink.Samples()) starts.push_back(s.start / kFrame);
    EXPECT_EQ(starts, (std::vector<REFERENCE_TIME>{0, 1, 2, 3, 4, 6, 8, 10}));
}

TEST(Filters, VolumeMutesAndSplitterSeparatesChannels)
{
    TestSource source(PcmType(48000, 2), 4 * 480);
    auto volume = LoadFilter("KeshAudiovolume.ax", CLSID_KeshAudioVolume);
    auto splitter = LoadFilter("KeshStereoSplitter.ax", CLSID_KeshStereoSplitter);
    ASSERT_TRUE(volume && splitter);
    ComPtr<IIAudioVolume> mute = ComPtr<IBaseFilter>(volume).As<IIAudioVolume>();
    ASSERT_TRUE(mute);
    TestSink left, right;
    ASSERT_EQ(ConnectPins(source.Output(), PinAt(volume.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(volume.Get(), 1), PinAt(splitter.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(splitter.Get(), 1), left.Input()), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(splitter.Get(), 2), right.Input()), S_OK);
    const WAVEFORMATEX* mono = GetWaveFormatEx(left.Type());
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->nChannels, 1);
    EXPECT_EQ(mono->wBitsPerSample, 16);
    EXPECT_EQ(mono->nSamplesPerSec, 48000u);

    const std::vector<IBaseFilter*> all = {left.Filter(), right.Filter(), splitter.Get(), volume.Get(), source.Filter()};
    RunAll(all);
    const auto pcm = StereoPcm(480, 1234, -4321);
    ASSERT_EQ(source.Push(pcm, 0, 100000), S_OK);
    mute->SetMute(TRUE);
    ASSERT_EQ(source.Push(pcm, 100000, 200000), S_OK);
    StopAll(all);
    const auto l = left.Samples(), r = right.Samples();
    ASSERT_EQ(l.size(), 2u);
    ASSERT_EQ(r.size(), 2u);
    auto values = [](const RecordedSample& s) {
        const auto* v = reinterpret_cast<const int16_t*>(s.bytes.data());
        return std::vector<int16_t>(v, v + s.bytes.size() / 2);
    };
    EXPECT_EQ(values(l[0]), std::vector<int16_t>(480, 1234));
    EXPECT_EQ(values(r[0]), std::vector<int16_t>(480, -4321));
    EXPECT_EQ(values(l[1]), std::vector<int16_t>(480, 0));
    EXPECT_EQ(values(r[1]), std::vector<int16_t>(480, 0));
    EXPECT_EQ(r[1].start, 100000);
    // The upstream buffer is left alone: the volume filter writes into its own.
    EXPECT_EQ(pcm, StereoPcm(480, 1234, -4321));
}

TEST(Filters, SilentSourceFeedsTheAacEncoder)
{
    ScratchHome home;
    auto generator = LoadFilter("KeshAudioGenerator.ax", CLSID_KeshAudioGenerator);
    auto aac = LoadFilter("aacenc.dll", CLSID_MonogramAAC);
    ASSERT_TRUE(generator && aac);
    TestSink sink;
    ASSERT_EQ(ConnectPins(PinAt(generator.Get(), 0), PinAt(aac.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(aac.Get(), 1), sink.Input()), S_OK);
    const WAVEFORMATEX* wfx = GetWaveFormatEx(sink.Type());
    ASSERT_NE(wfx, nullptr);
    EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_RAW_AAC1);
    EXPECT_EQ(wfx->nChannels, 2);
    EXPECT_GE(wfx->cbSize, 2);
    const std::vector<IBaseFilter*> all = {sink.Filter(), aac.Get(), generator.Get()};
    RunAll(all);
    for (int i = 0; i < 500 && sink.Samples().size() < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    StopAll(all);
    const auto samples = sink.Samples();
    ASSERT_GE(samples.size(), 20u);
    // Frames known by their start alone (what the publishing sink stamps audio tags with),
    // one AAC frame of 1024 samples apart.
    for (size_t i = 1; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].stop, samples[i].start + 1);
        EXPECT_NEAR(samples[i].start - samples[i - 1].start, 1024 * 10000000LL / wfx->nSamplesPerSec, 1);
    }
}
