#include <gtest/gtest.h>

#include <atomic>

#include "com/plugin.h"
#include "dshow/filtergraph.h"
#include "dshow/qedit.h"
#include "dshow/streams.h"
#include "test_filters.h"
#include "test_source.h"

namespace {

struct CountingCallback : ISampleGrabberCB {
    std::atomic<int> buffers{0};
    std::atomic<LONG> lastLength{0};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG length) override
    {
        lastLength = length;
        ++buffers;
        return S_OK;
    }
};

TEST(FilterGraph, NamesAreMadeUniqueAndFound)
{
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    auto a = Create<IBaseFilter>(CLSID_NullRenderer);
    auto b = Create<IBaseFilter>(CLSID_NullRenderer);
    auto c = Create<IBaseFilter>(CLSID_NullRenderer);
    EXPECT_EQ(graph->AddFilter(a.Get(), u"RENDERER 1 "), S_OK);
    EXPECT_EQ(graph->AddFilter(b.Get(), u"RENDERER 1 "), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(c.Get(), u"RENDERER 1 "), VFW_S_DUPLICATE_NAME);

    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName(u"RENDERER 1 ", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), a.Get());
    EXPECT_EQ(graph->FindFilterByName(u"RENDERER 1  0002", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), c.Get());
    EXPECT_EQ(graph->FindFilterByName(u"missing", found.Put()), VFW_E_NOT_FOUND);

    // The usual clearing loop: remove, then Reset the enumerator that went out of sync.
    ComPtr<IEnumFilters> list;
    graph->EnumFilters(list.Put());
    IBaseFilter* filter = nullptr;
    int removed = 0;
    while (list->Next(1, &filter, nullptr) == S_OK) {
        EXPECT_EQ(graph->RemoveFilter(filter), S_OK);
        filter->Release();
        ++removed;
        EXPECT_EQ(list->Next(1, &filter, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
        list->Reset();
    }
    EXPECT_EQ(removed, 3);
}

TEST(FilterGraph, RunsToCompletionThroughGrabberAndReportsPosition)
{
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    auto source = TestSource::Make(VideoType(MEDIASUBTYPE_RGB32, 16, 8, 32, BI_RGB), 20, 512);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber);
    auto sink = Create<IBaseFilter>(CLSID_NullRenderer);
    graph->AddFilter(source.Get(), u"Source");
    graph->AddFilter(grabber.Get(), u"Grabber");
    graph->AddFilter(sink.Get(), u"Sink");

    CountingCallback callback;
    auto grab = grabber.As<ISampleGrabber>();
    CMediaType wanted(&MEDIATYPE_Audio);
    grab->SetMediaType(&wanted);
    EXPECT_TRUE(FAILED(graph->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(grabber.Get(), PINDIR_INPUT).Get())));
    CMediaType video(&MEDIATYPE_Video);
    grab->SetMediaType(&video);
    grab->SetBufferSamples(TRUE);
    grab->SetCallback(&callback, 1);

    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, grabber.Get()), S_OK);
    // The source's only output is taken: the search continues at the grabber's free output.
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, sink.Get()), S_OK);
    std::string topology = DescribeGraph(graph.Get());
    EXPECT_NE(topology.find("-> \"Sink\""), std::string::npos) << topology;

    auto control = graph.As<IMediaControl>();
    auto events = graph.As<IMediaEventEx>();
    ASSERT_EQ(control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    LONG_PTR p1, p2;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(callback.buffers.load(), 20);
    EXPECT_EQ(callback.lastLength.load(), 512);

    LONG size = 0;
    ASSERT_EQ(grab->GetCurrentBuffer(&size, nullptr), S_OK);
    std::vector<LONG> copy(size_t(size + 3) / 4);
    ASSERT_EQ(grab->GetCurrentBuffer(&size, copy.data()), S_OK);
    EXPECT_EQ(reinterpret_cast<BYTE*>(copy.data())[0], 19);

    LONGLONG position = -1;
    auto seeking = graph.As<IMediaSeeking>();
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_GE(position, 0);
    EXPECT_EQ(control->Stop(), S_OK);
    OAFilterState state;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST(FilterGraph, StopsAndRestartsWhileStreaming)
{
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    auto source = TestSource::Make(VideoType(MEDIASUBTYPE_RGB32, 16, 8, 32, BI_RGB), 1000000, 512);
    auto sink = Create<IBaseFilter>(CLSID_NullRenderer);
    graph->AddFilter(source.Get(), u"Source");
    graph->AddFilter(sink.Get(), u"Sink");
    ASSERT_EQ(graph->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    auto control = graph.As<IMediaControl>();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_EQ(control->Pause(), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_EQ(control->Stop(), S_OK);
    }
    // Reconnection needs a stopped graph and keeps the pins connected.
    EXPECT_EQ(graph->Reconnect(Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(Pin(sink.Get(), PINDIR_INPUT)->ConnectedTo(peer.Put()), S_OK);
}

TEST(MediaTypes, FormatReadersCheckBounds)
{
    CMediaType mt = VideoType(MEDIASUBTYPE_YUY2, 640, 480, 16, MakeFourCC('Y', 'U', 'Y', '2'));
    ASSERT_NE(GetBitmapInfoHeader(mt), nullptr);
    EXPECT_EQ(GetBitmapFrameSize(*GetBitmapInfoHeader(mt)), 640u * 480 * 2);
    EXPECT_EQ(GetAvgTimePerFrame(mt), 333333);
    mt.ReallocFormatBuffer(60);  // too short for a VIDEOINFOHEADER
    EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);

    CMediaType audio(&MEDIATYPE_Audio);
    audio.SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(audio.AllocFormatBuffer(sizeof(WAVEFORMATEX) + 2));
    wfx->cbSize = 2;
    EXPECT_EQ(GetWaveFormatExtra(audio).size(), 2u);
    wfx->cbSize = 3;  // claims more than the block holds
    EXPECT_EQ(GetWaveFormatEx(audio), nullptr);

    CMediaType mpeg(&MEDIATYPE_Video);
    mpeg.SetFormatType(&FORMAT_MPEG2Video);
    auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(mpeg.AllocFormatBuffer(SIZE_MPEG2VIDEOINFO(8)));
    info->cbSequenceHeader = 8;
    EXPECT_EQ(GetSequenceHeader(mpeg).size(), 8u);
    info->cbSequenceHeader = 9;
    EXPECT_TRUE(GetSequenceHeader(mpeg).empty());
}

}  // namespace
