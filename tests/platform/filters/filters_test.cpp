#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "com/plugin.h"
#include "dshow/filtergraph.h"
#include "dshow/streams.h"
#include "filters/video_surface.h"
#include "../dshow/test_source.h"

namespace {

ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
    return filter;
}

// source -> sink through the graph's Connect, run to completion, stop.
void RunToCompletion(IBaseFilter* source, IBaseFilter* sink)
{
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    graph->AddFilter(source, u"Source");
    graph->AddFilter(sink, u"Sink");
    ComPtr<ICaptureGraphBuilder2> builder;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     builder.PutVoid());
    builder->SetFiltergraph(graph.Get());
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, source, nullptr, sink), S_OK) << DescribeGraph(graph.Get());
    auto control = graph.As<IMediaControl>();
    auto events = graph.As<IMediaEvent>();
    ASSERT_EQ(control->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    control->Stop();
}

std::string TempPath(const char* name) { return testing::TempDir() + name; }

TEST(FileWriter, WritesEachSampleAtItsByteOffset)
{
    // Sample n (4 bytes of value n) is stamped with offset 8 - 4n: the last one lands first
    // in the file, as a multiplexer's rewritten header does.
    CMediaType stream(&MEDIATYPE_Stream);
    auto source = TestSource::Make(stream, 3, 4, [](int index, IMediaSample* sample) {
        REFERENCE_TIME start = 8 - 4 * index, end = start + 4;
        sample->SetTime(&start, &end);
    });
    auto writer = Create(CLSID_FileWriter);
    std::string path = TempPath("positioned.bin");
    ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf16FromUtf8(path).c_str(), nullptr), S_OK);
    RunToCompletion(source.Get(), writer.Get());
    writer.Reset();
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(bytes, std::string("\2\2\2\2\1\1\1\1\0\0\0\0", 12));

    LPOLESTR name = nullptr;
    auto other = Create(CLSID_FileWriter);
    EXPECT_EQ(other.As<IFileSinkFilter>()->GetCurFile(&name, nullptr), S_FALSE);
    EXPECT_TRUE(FAILED(other.As<IFileSinkFilter>()->SetFileName(u"/nonexistent-folder/x.mp4", nullptr)));
}

TEST(FileWriter, InputPinStreamWritesIntoTheFileAfterTheWriterStopped)
{
    // A multiplexer stopped after the writer still puts its closing data into the file
    // through the pin's stream: here over a sample written while running.
    CMediaType stream(&MEDIATYPE_Stream);
    auto source = TestSource::Make(stream, 1, 4, [](int, IMediaSample* sample) {
        REFERENCE_TIME start = 0, end = 4;
        sample->SetTime(&start, &end);
    });
    auto writer = Create(CLSID_FileWriter);
    std::string path = TempPath("pinstream.bin");
    ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf16FromUtf8(path).c_str(), nullptr), S_OK);
    RunToCompletion(source.Get(), writer.Get());

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(writer->EnumPins(pins.Put()), S_OK);
    ComPtr<IPin> input;
    ASSERT_EQ(pins->Next(1, input.Put(), nullptr), S_OK);
    auto pinStream = input.As<IStream>();
    ASSERT_TRUE(pinStream);
    EXPECT_TRUE(pinStream.As<IPin>() == input) << "the stream answers for the pin";

    LARGE_INTEGER end{0};
    ULARGE_INTEGER position{};
    ASSERT_EQ(pinStream->Seek(end, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 4u);
    ULONG written = 0;
    ASSERT_EQ(pinStream->Write("tail", 4, &written), S_OK);
    EXPECT_EQ(written, 4u);
    LARGE_INTEGER second{2};
    ASSERT_EQ(pinStream->Seek(second, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(pinStream->Write("XY", 2, nullptr), S_OK);
    EXPECT_EQ(pinStream->Commit(0), S_OK);
    LARGE_INTEGER before{-1};
    EXPECT_EQ(pinStream->Seek(before, STREAM_SEEK_SET, nullptr), E_INVALIDARG);
    pinStream.Reset();
    input.Reset();
    pins.Reset();
    writer.Reset();

    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(bytes, std::string("\0\0XYtail", 8));
}

TEST(VideoRenderer, HandsRgb32FramesToTheOwnerSurface)
{
    constexpr HWND kOwner = 0x7001;
    std::atomic<int> frames{0};
    std::atomic<uint32_t> firstPixel{0};
    RegisterVideoSurface(kOwner, [&](const VideoSurfaceFrame& frame) {
        EXPECT_EQ(frame.width, 4);
        EXPECT_EQ(frame.height, 2);
        EXPECT_EQ(frame.position.right, 320);
        uint32_t pixel;
        std::memcpy(&pixel, frame.pixels, 4);
        firstPixel = pixel;
        ++frames;
    });
    // RGB24 frames of 4x2, bottom-up; sample n fills every byte with n.
    auto source = TestSource::Make(VideoType(MEDIASUBTYPE_RGB24, 4, 2, 24, BI_RGB), 3, 24);
    auto renderer = Create(CLSID_VideoRenderer);
    auto window = renderer.As<IVideoWindow>();
    window->put_Owner(kOwner);
    window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    window->SetWindowPosition(0, 0, 320, 180);
    window->put_Visible(OATRUE);
    LONG style = 0;
    window->get_WindowStyle(&style);
    EXPECT_EQ(style, 0x44000000);
    RunToCompletion(source.Get(), renderer.Get());
    UnregisterVideoSurface(kOwner);
    EXPECT_EQ(frames.load(), 3);
    EXPECT_EQ(firstPixel.load() & 0xFFFFFF, 0x020202u);
}

TEST(MjpegDecompressor, IsInsertedBetweenMjpgAndAnUncompressedConsumer)
{
    std::string path = TempPath("frames.mjpg");
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240 -frames 3 -c:v mjpeg -f image2pipe " +
                          path;
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream file(path, std::ios::binary);
    std::string stream((std::istreambuf_iterator<char>(file)), {});
    // Split the pipe into JPEG frames at each start-of-image marker.
    std::vector<std::string> jpegs;
    for (size_t at = 0; (at = stream.find("\xFF\xD8\xFF", at)) != std::string::npos;) {
        size_t next = stream.find("\xFF\xD8\xFF", at + 3);
        jpegs.push_back(stream.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next == std::string::npos ? stream.size() : next;
    }
    ASSERT_EQ(jpegs.size(), 3u);

    auto source = TestSource::Make(VideoType(MEDIASUBTYPE_MJPG, 320, 240, 24, MakeFourCC('M', 'J', 'P', 'G')), 3,
                                   200000, [&](int index, IMediaSample* sample) {
                                       BYTE* data = nullptr;
                                       sample->GetPointer(&data);
                                       std::memcpy(data, jpegs[size_t(index)].data(), jpegs[size_t(index)].size());
                                       sample->SetActualDataLength(LONG(jpegs[size_t(index)].size()));
                                   });
    constexpr HWND kOwner = 0x7002;
    std::atomic<int> frames{0};
    RegisterVideoSurface(kOwner, [&](const VideoSurfaceFrame& frame) {
        EXPECT_EQ(frame.width, 320);
        ++frames;
    });
    auto renderer = Create(CLSID_VideoRenderer);
    renderer.As<IVideoWindow>()->put_Owner(kOwner);
    RunToCompletion(source.Get(), renderer.Get());
    UnregisterVideoSurface(kOwner);
    EXPECT_EQ(frames.load(), 3);
}

}  // namespace
