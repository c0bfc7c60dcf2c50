// A recording stopped with the graph, without an end of stream, as the broadcaster stops it:
// the graph stops the File Writer before the multiplexer, so whatever the multiplexer still
// holds at that moment cannot reach the file any more.
#include <gtest/gtest.h>

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

}  // namespace

TEST(RecordingStop, StoppedGraphKeepsAllButTheLastQuarterSecond)
{
    ScratchHome home;
    const std::string path = home.File("stopped.mp4");
    // No key frame after the first: only the fragment length bounds what the stop loses.
    SetRegistryDword("Software\\MONOGRAM\\MONOGRAM x264 Encoder", "KeyIntMax", 250);
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    TestSource video(Yuy2Type(kWidth, kHeight, kFrame, 4, 3), kWidth * kHeight * 2);
    TestSource audio(PcmType(kRate, 2), kRate * 4 / 50);
    auto x264 = LoadFilter("mmx264.ax", CLSID_MonogramX264);
    auto aac = LoadFilter("aacenc.dll", CLSID_MonogramAAC);
    auto mux = LoadFilter("tmp4mux.ax", CLSID_MP4Muxer);
    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, writer.PutVoid()),
              S_OK);
    ASSERT_TRUE(x264 && aac && mux);
    ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf16FromUtf8(path).c_str(), nullptr), S_OK);
    graph->AddFilter(video.Filter(), u"Video");
    graph->AddFilter(audio.Filter(), u"Audio");
    graph->AddFilter(x264.Get(), u"x264 Encoder");
    graph->AddFilter(aac.Get(), u"AAC Encoder");
    graph->AddFilter(mux.Get(), u"MP4 Muxer");
    graph->AddFilter(writer.Get(), u"File Writer");
    ASSERT_EQ(ConnectPins(video.Output(), PinAt(x264.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(audio.Output(), PinAt(aac.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(x264.Get(), 1), PinAt(mux.Get(), 0)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(aac.Get(), 1), PinAt(mux.Get(), 1)), S_OK);
    ASSERT_EQ(ConnectPins(PinAt(mux.Get(), 2), PinAt(writer.Get(), 0)), S_OK);

    auto control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    // Four seconds, stamped three seconds ahead of the graph clock so that no frame counts as
    // late on a slow machine.
    const REFERENCE_TIME origin = 30000000;
    const int frames = 100;
    for (int i = 0; i < frames; ++i) {
        const REFERENCE_TIME t = origin + i * kFrame;
        ASSERT_EQ(video.Push(Yuy2Frame(kWidth, kHeight, i), t, t + kFrame), S_OK);
        for (REFERENCE_TIME a = t; a < t + kFrame; a += kChunk)
            ASSERT_EQ(audio.Push(StereoPcm(kRate / 50, 1000, -1000), a, a + kChunk), S_OK);
    }
    ASSERT_EQ(control->Stop(), S_OK);
    graph.Reset();
    writer.Reset();

    const double fed = frames * kFrame / 1e7;
    const auto spans = TrackSpans(path);
    ASSERT_EQ(spans.size(), 2u);
    for (const auto& [kind, span] : spans) {
        SCOPED_TRACE(kind);
        EXPECT_GE(span.end - span.start, fed - 0.5);
        EXPECT_LE(span.end - span.start, fed + 0.1);
    }
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
}
