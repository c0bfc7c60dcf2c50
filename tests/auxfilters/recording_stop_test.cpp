// A recording stopped with the graph, without an end of stream, as the broadcaster stops it:
// the graph stops the File Writer before the multiplexer, so whatever the multiplexer still
// holds at that moment cannot reach the file any more.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "aux_filters.h"
#include "com/plugin.h"
#include "com/variant.h"
#include "common/audio_types.h"
#include "dshow/filtergraph.h"
#include "dshow/uuids.h"
#include "graph_support.h"
#include "test_support.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kRate = 48000;
constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps
constexpr REFERENCE_TIME kChunk = 200000;  // 20 ms of audio

CMediaType I420Type()
{
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_I420);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = kFrame;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = kWidth;
    vih->bmiHeader.biHeight = kHeight;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = MakeFourCC('I', '4', '2', '0');
    vih->bmiHeader.biSizeImage = kWidth * kHeight * 3 / 2;
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

CMediaType StereoPcmType()
{
    CMediaType mt;
    SetPcm16Type(&mt, kRate, 2);
    return mt;
}

std::vector<uint8_t> Tone(int frames, int at)
{
    std::vector<uint8_t> bytes(size_t(frames) * 4);
    auto* s = reinterpret_cast<int16_t*>(bytes.data());
    for (int i = 0; i < frames; ++i) s[2 * i] = s[2 * i + 1] = int16_t(((at + i) % 100) * 200 - 10000);
    return bytes;
}

// Track kind -> (first presentation time, end of the last packet) in seconds, as ffprobe reads
// the file; the multiplexer starts the file's time line at its first packet.
std::map<std::string, std::pair<double, double>> TrackSpans(const std::string& path)
{
    std::map<std::string, std::pair<double, double>> spans;
    std::istringstream lines(RunCommand("ffprobe -v error -show_entries packet=codec_type,pts_time,duration_time "
                                        "-of csv=p=0 '" + path + "'"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string type, pts, duration;
        std::getline(fields, type, ',');
        std::getline(fields, pts, ',');
        std::getline(fields, duration, ',');
        if (type != "video" && type != "audio") continue;
        const double start = std::stod(pts), end = start + (duration == "N/A" ? 0 : std::stod(duration));
        auto [it, fresh] = spans.try_emplace(type, start, end);
        it->second.first = std::min(it->second.first, start);
        it->second.second = std::max(it->second.second, end);
    }
    return spans;
}

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
    TestSource video(I420Type(), kWidth * kHeight * 3 / 2);
    TestSource audio(StereoPcmType(), kRate * 4 / 50);
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
        ASSERT_EQ(video.Push(MovingPictureI420(kWidth, kHeight, i), t, t + kFrame), S_OK);
        for (REFERENCE_TIME a = t; a < t + kFrame; a += kChunk)
            ASSERT_EQ(audio.Push(Tone(kRate / 50, int((a - origin) / kChunk) * (kRate / 50)), a, a + kChunk), S_OK);
    }
    ASSERT_EQ(control->Stop(), S_OK);
    graph.Reset();
    writer.Reset();

    const double fed = frames * kFrame / 1e7;
    const auto spans = TrackSpans(path);
    ASSERT_EQ(spans.size(), 2u);
    for (const auto& [kind, span] : spans) {
        SCOPED_TRACE(kind);
        EXPECT_GE(span.second - span.first, fed - 0.5);
        EXPECT_LE(span.second - span.first, fed + 0.1);
    }
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
}
