// Platform filters on hand-fed samples: the Video Renderer's type checks and row layout, the
// MJPEG decompressor on samples that fill their buffers, the File Writer's refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "../dshow/test_filters.h"
#include "com/taskmem.h"
#include "dshow/filtergraph.h"
#include "dshow/streams.h"
#include "filters/video_surface.h"

namespace {

struct Graph {
    ComPtr<IGraphBuilder> builder = Create<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IMediaControl> control = builder.As<IMediaControl>();
    ~Graph() { control->Stop(); }
    HRESULT Chain(std::initializer_list<std::pair<IBaseFilter*, const char16_t*>> filters)
    {
        IBaseFilter* previous = nullptr;
        for (auto [filter, name] : filters) {
            builder->AddFilter(filter, name);
            if (previous) {
                HRESULT hr = builder->Connect(Pin(previous, PINDIR_OUTPUT).Get(), Pin(filter, PINDIR_INPUT).Get());
                if (FAILED(hr)) return hr;
            }
            previous = filter;
        }
        return S_OK;
    }
};

TEST(VideoRenderer, RefusesHeadersThatDisagreeWithTheSubtype)
{
    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    auto in = Pin(renderer.Get(), PINDIR_INPUT);
    auto accepts = [&](CMediaType mt) { return in->QueryAccept(&mt); };
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_RGB24, 64, 48, 24)), S_OK);
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_YV12, 64, 48, 12)), S_OK);
    // Fewer bits than the subtype carries would make the frame look smaller than it is.
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_RGB24, 64, 48, 8)), S_FALSE);
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_YUY2, 64, 48, 12)), S_FALSE);
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_RGB32, 100000, 100000, 32)), S_FALSE);
    EXPECT_EQ(accepts(VideoOf(MEDIASUBTYPE_MJPG, 64, 48, 24)), S_FALSE);
    CMediaType noFormat(&MEDIATYPE_Video);
    noFormat.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_EQ(in->QueryAccept(&noFormat), S_FALSE);
}

TEST(VideoRenderer, ReadsPackedRowsWithTheirPadding)
{
    // YUY2 3x2: 6 bytes of pixels per row, padded to 8. Row 0 black, row 1 white, padding grey.
    CMediaType yuy2 = VideoOf(MEDIASUBTYPE_YUY2, 3, 2, 16);
    auto* source = new PushSource({yuy2}, 1, 16);
    auto s = Hold(source);
    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    constexpr HWND kOwner = 0x7101;
    std::mutex mutex;
    std::vector<uint8_t> pixels;
    RegisterVideoSurface(kOwner, [&](const VideoSurfaceFrame& frame) {
        std::lock_guard lock(mutex);
        pixels.assign(frame.pixels, frame.pixels + size_t(frame.stride) * frame.height);
    });
    renderer.As<IVideoWindow>()->put_Owner(kOwner);
    Graph graph;
    ASSERT_EQ(graph.Chain({{s.Get(), u"Source"}, {renderer.Get(), u"Renderer"}}), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);

    IMediaSample* sample = nullptr;
    ASSERT_EQ(source->Out()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const BYTE frame[16] = {16, 128, 16, 128, 16, 128, 128, 128, 235, 128, 235, 128, 235, 128, 128, 128};
    std::memcpy(data, frame, sizeof frame);
    sample->SetActualDataLength(16);
    REFERENCE_TIME start = 0, end = 1;
    sample->SetTime(&start, &end);
    EXPECT_EQ(source->Out()->Deliver(sample), S_OK);
    sample->Release();
    graph.control->Stop();
    UnregisterVideoSurface(kOwner);

    ASSERT_EQ(pixels.size(), 3u * 4 * 2);
    for (int x = 0; x < 3; ++x) {
        EXPECT_LT(pixels[size_t(x) * 4 + 1], 16) << x;           // row 0: black
        EXPECT_GT(pixels[3 * 4 + size_t(x) * 4 + 1], 240) << x;  // row 1: white, not the padding
    }
}

TEST(MjpegDecompressor, DecodesSamplesThatFillTheirWholeBuffer)
{
    std::string path = testing::TempDir() + "full.jpg";
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48 -frames 1 -c:v mjpeg -f image2pipe " + path;
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream file(path, std::ios::binary);
    std::string jpeg((std::istreambuf_iterator<char>(file)), {});
    ASSERT_GT(jpeg.size(), 100u);

    CMediaType mjpg = VideoOf(MEDIASUBTYPE_MJPG, 64, 48, 24);
    auto* source = new PushSource({mjpg}, 2, LONG(jpeg.size()));
    auto* sink = new TestSink([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_RGB32; });
    auto s = Hold(source), k = Hold(sink);
    Graph graph;
    ASSERT_EQ(graph.Chain({{s.Get(), u"Camera"}, {k.Get(), u"Consumer"}}), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    for (int i = 0; i < 4; ++i) {
        IMediaSample* sample = nullptr;
        ASSERT_EQ(source->Out()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, jpeg.data(), jpeg.size());
        ASSERT_EQ(sample->GetSize(), LONG(jpeg.size()));
        sample->SetActualDataLength(LONG(jpeg.size()));
        EXPECT_EQ(source->Out()->Deliver(sample), S_OK);
        sample->Release();
    }
    EXPECT_EQ(sink->Samples().size(), 4u);
    // A truncated picture is dropped, not delivered half-decoded or crashing the decoder.
    IMediaSample* sample = nullptr;
    ASSERT_EQ(source->Out()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, jpeg.data(), 40);
    sample->SetActualDataLength(40);
    EXPECT_EQ(source->Out()->Deliver(sample), S_OK);
    sample->Release();
    EXPECT_EQ(sink->Samples().size(), 4u);
}

TEST(FileWriter, RefusesToStartWithoutAWritableFile)
{
    auto writer = Create<IBaseFilter>(CLSID_FileWriter);
    auto sinkFilter = writer.As<IFileSinkFilter>();
    EXPECT_EQ(sinkFilter->SetFileName(u"/nonexistent-folder/out.bin", nullptr), E_ACCESSDENIED);
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(sinkFilter->GetCurFile(&name, &mt), S_OK);
    CoTaskMemFree(name);
    FreeMediaType(mt);

    auto fresh = Create<IBaseFilter>(CLSID_FileWriter);
    auto* source = new PushSource({VideoOf(MEDIASUBTYPE_RGB32, 2, 2, 32)}, 1, 16);
    auto s = Hold(source);
    Graph graph;
    ASSERT_EQ(graph.Chain({{s.Get(), u"Source"}, {fresh.Get(), u"Writer"}}), S_OK);
    EXPECT_EQ(graph.control->Pause(), VFW_E_NO_SINK);
    OAFilterState state = -1;
    graph.control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

}  // namespace
