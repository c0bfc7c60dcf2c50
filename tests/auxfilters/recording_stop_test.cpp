// Recordings stopped with their graph, without an end of stream, as the broadcaster stops
// them: the graph stops the file's writer before the multiplexer, so the closing data that
// the multiplexer makes in its own Stop reaches the file only through a writer that still
// takes writes after its Stop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "aux_filters.h"
#include "com/plugin.h"
#include "com/variant.h"
#include "dshow/filtergraph.h"
#include "dshow/uuids.h"
#include "graph_support.h"
#include "test_support.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kRate = 48000;
constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps
constexpr REFERENCE_TIME kChunk = 200000;  // 20 ms of audio
constexpr int kFrames = 100;
constexpr double kFedSeconds = kFrames * kFrame / 1e7;

// Video and audio sources, both encoders and the multiplexer, connected up to the
// multiplexer's output. No key frame follows the first, so only the fragment length bounds
// what a stop can lose.
struct Recorder {
    Recorder()
    {
        SetRegistryDword("Software\\MONOGRAM\\MONOGRAM x264 Encoder", "KeyIntMax", 250);
        x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
        aac = LoadFilter("aacenc.dll", CLSID_MonogramAAC);
        mux = LoadFilter("tmp4mux.ax", CLSID_MP4Muxer);
    }

    void Connect()
    {
        ASSERT_TRUE(x264 && aac && mux);
        ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
        ASSERT_EQ(ConnectPins(audio.Output(), PinAt(aac.Get(), 0)), S_OK);
        ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), PinAt(mux.Get(), 0)), S_OK);
        ASSERT_EQ(ConnectPins(PinAt(aac.Get(), 1), PinAt(mux.Get(), 1)), S_OK);
    }

    // Four seconds, stamped three seconds ahead of the clock so that no frame counts as late
    // on a slow machine.
    void Feed()
    {
        const REFERENCE_TIME origin = 30000000;
        for (int i = 0; i < kFrames; ++i) {
            const REFERENCE_TIME t = origin + i * kFrame;
            ASSERT_EQ(video.Push(Yuy2Frame(kWidth, kHeight, i), t, t + kFrame), S_OK);
            for (REFERENCE_TIME a = t; a < t + kFrame; a += kChunk)
                ASSERT_EQ(audio.Push(StereoPcm(kRate / 50, 1000, -1000), a, a + kChunk), S_OK);
        }
    }

    std::vector<IBaseFilter*> Filters() { return {mux.Get(), x264.Get(), aac.Get(), video.Filter(), audio.Filter()}; }

    // Connects everything up to `file`; the filters in the order the graph stops them.
    std::vector<IBaseFilter*> ConnectTo(TestSink& file)
    {
        Connect();
        EXPECT_EQ(ConnectPins(PinAt(mux.Get(), 2), file.Input()), S_OK);
        std::vector<IBaseFilter*> all = Filters();
        all.insert(all.begin(), file.Filter());  // the file's writer stops first
        return all;
    }

    TestSource video{Yuy2Type(kWidth, kHeight, kFrame, 4, 3), kWidth * kHeight * 2};
    TestSource audio{PcmType(kRate, 2), kRate * 4 / 50};
    ComPtr<IBaseFilter> x264, aac, mux;
};

// Both tracks hold what was fed, less at most `lost` seconds, and decode without an error.
void ExpectRecorded(const std::string& path, double lost)
{
    const auto spans = TrackSpans(path);
    ASSERT_EQ(spans.size(), 2u);
    for (const auto& [kind, span] : spans) {
        SCOPED_TRACE(kind);
        EXPECT_GE(span.end - span.start, kFedSeconds - lost);
        EXPECT_LE(span.end - span.start, kFedSeconds + 0.1);
    }
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
}

}  // namespace

TEST(RecordingStop, StoppedGraphWithFileWriterLosesAtMostTheUnfinishedFragment)
{
    ScratchHome home;
    const std::string path = home.File("stopped.mp4");
    Recorder recorder;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, writer.PutVoid()),
              S_OK);
    ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf16FromUtf8(path).c_str(), nullptr), S_OK);
    for (IBaseFilter* filter : recorder.Filters()) graph->AddFilter(filter, nullptr);
    graph->AddFilter(writer.Get(), u"File Writer");
    recorder.Connect();
    ASSERT_EQ(ConnectPins(PinAt(recorder.mux.Get(), 2), PinAt(writer.Get(), 0)), S_OK);

    auto control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    recorder.Feed();
    ASSERT_EQ(control->Stop(), S_OK);
    graph.Reset();
    writer.Reset();
    // A quarter-second fragment, plus the frames the encoders still hold.
    ExpectRecorded(path, 0.5);
}

TEST(RecordingStop, WriterOfferingAStreamGetsTheClosingDataAfterItStopped)
{
    ScratchHome home;
    const std::string path = home.File("closed.mp4");
    Recorder recorder;
    TestSink file(path, true);
    const std::vector<IBaseFilter*> all = recorder.ConnectTo(file);
    RunAllOnClock(all);
    recorder.Feed();
    StopAll(all);
    EXPECT_TRUE(file.Samples().empty());  // every byte went through the stream
    // Only the few frames the encoders still hold are missing.
    ExpectRecorded(path, 0.2);
}

// The sources keep pushing from their own threads while the graph stops: samples already on
// their way into the multiplexer must not start a new file over the finished one, and a
// second stop must leave that file alone.
TEST(RecordingStop, SamplesArrivingDuringTheStopLeaveTheFinishedFileIntact)
{
    ScratchHome home;
    const std::string path = home.File("raced.mp4");
    Recorder recorder;
    TestSink file(path, true);
    const std::vector<IBaseFilter*> all = recorder.ConnectTo(file);
    RunAllOnClock(all);

    // Each thread notes the end of the last sample the graph accepted.
    const REFERENCE_TIME origin = 30000000;
    std::atomic<REFERENCE_TIME> videoAccepted{origin}, audioAccepted{origin};
    std::thread video([&] {
        for (REFERENCE_TIME t = origin; t < origin + 1000 * kFrame; t += kFrame) {
            if (recorder.video.Push(Yuy2Frame(kWidth, kHeight, int(t / kFrame % 50)), t, t + kFrame) != S_OK) return;
            videoAccepted = t + kFrame;
        }
    });
    std::thread audio([&] {
        for (REFERENCE_TIME a = origin; a < origin + 1000 * kFrame; a += kChunk) {
            if (recorder.audio.Push(StereoPcm(kRate / 50, 1000, -1000), a, a + kChunk) != S_OK) return;
            audioAccepted = a + kChunk;
        }
    });
    while (videoAccepted < origin + 20000000 || audioAccepted < origin + 5000000) std::this_thread::yield();
    StopAll(all);
    video.join();
    audio.join();
    StopAll(all);

    const auto spans = TrackSpans(path);
    ASSERT_EQ(spans.size(), 2u);
    for (const auto& [kind, span] : spans) {
        SCOPED_TRACE(kind);
        // Only the frames the encoders still held may be missing.
        const REFERENCE_TIME accepted = kind == "video" ? videoAccepted : audioAccepted;
        EXPECT_GE(span.end - span.start, (accepted - origin) / 1e7 - 0.3);
    }
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
}
