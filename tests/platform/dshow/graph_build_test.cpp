// Building graphs: Connect with and without a converter, Disconnect, Reconnect(Ex), the
// render-stream search through the real tee and frame-rate limiter libraries, completion
// with several renderers and the topology text.
#include <gtest/gtest.h>

#include <algorithm>

#include "aux_filters.h"
#include "dshow/filtergraph.h"
#include "dshow/streams.h"
#include "test_filters.h"
#include "test_source.h"

namespace {

const CMediaType kRgb = VideoOf(MEDIASUBTYPE_RGB32, 8, 4, 32);
const CMediaType kYuy2 = VideoOf(MEDIASUBTYPE_YUY2, 8, 4, 16);
const CMediaType kMjpg = [] {
    CMediaType mt = VideoOf(MEDIASUBTYPE_MJPG, 64, 48, 24);
    mt.SetVariableSize();
    mt.SetTemporalCompression(TRUE);
    return mt;
}();

ComPtr<IPin> PeerOf(const ComPtr<IPin>& pin)
{
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.Put());
    return peer;
}

ComPtr<IBaseFilter> OwnerOf(const ComPtr<IPin>& pin)
{
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

CMediaType ConnectionType(const ComPtr<IPin>& pin)
{
    AM_MEDIA_TYPE mt{};
    pin->ConnectionMediaType(&mt);
    CMediaType copy(mt);
    FreeMediaType(mt);
    return copy;
}

bool AcceptsUncompressed(const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_RGB32 || mt.subtype == MEDIASUBTYPE_YUY2; }

TEST(GraphBuilding, ConnectInsertsTheMjpegConverterWhereConnectDirectFails)
{
    TestGraph graph;
    auto* source = new PushSource({kMjpg}, 2, 1 << 16);
    auto* sink = new TestSink(AcceptsUncompressed);
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Camera");
    graph.Add(k, u"Consumer");
    auto out = Pin(s.Get(), PINDIR_OUTPUT), in = Pin(k.Get(), PINDIR_INPUT);

    EXPECT_TRUE(FAILED(graph.builder->ConnectDirect(out.Get(), in.Get(), nullptr)));
    EXPECT_EQ(graph.Names().size(), 2u);
    EXPECT_FALSE(PeerOf(out));

    ASSERT_EQ(graph.builder->Connect(out.Get(), in.Get()), S_OK);
    ComPtr<IBaseFilter> converter;
    ASSERT_EQ(graph.builder->FindFilterByName(u"MJPEG Decompressor", converter.Put()), S_OK);
    EXPECT_TRUE(OwnerOf(PeerOf(out)) == converter);
    EXPECT_TRUE(OwnerOf(PeerOf(in)) == converter);
    EXPECT_TRUE(AcceptsUncompressed(ConnectionType(in)));
    std::string topology = DescribeGraph(graph.builder.Get());
    EXPECT_NE(topology.find("\"Camera\" \"Out\" [Video MJPG VideoInfo 64x48"), std::string::npos) << topology;
}

TEST(GraphBuilding, FailedConnectLeavesNoConverterBehindAndChecksItsPins)
{
    TestGraph graph;
    auto* source = new PushSource({kMjpg}, 2, 1 << 16);
    auto* sink = new TestSink([](const CMediaType& mt) { return mt.majortype == MEDIATYPE_Audio; });
    auto* stranger = new TestSink;
    auto s = Hold(source), k = Hold(sink), x = Hold(stranger);
    graph.Add(s, u"Camera");
    graph.Add(k, u"Speaker");
    auto out = Pin(s.Get(), PINDIR_OUTPUT), in = Pin(k.Get(), PINDIR_INPUT);

    EXPECT_EQ(graph.builder->Connect(out.Get(), in.Get()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(graph.Names(), (std::vector<std::u16string>{u"Camera", u"Speaker"}));
    EXPECT_FALSE(PeerOf(out));
    EXPECT_EQ(graph.builder->Connect(in.Get(), out.Get()), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(graph.builder->ConnectDirect(out.Get(), Pin(x.Get(), PINDIR_INPUT).Get(), nullptr), VFW_E_NOT_IN_GRAPH);
}

TEST(GraphBuilding, ConnectDirectHonoursPartialAndFullTypes)
{
    TestGraph graph;
    auto* source = new PushSource({kRgb, kYuy2}, 2, 256);
    auto* sink = new TestSink;
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(k, u"Sink");
    auto out = Pin(s.Get(), PINDIR_OUTPUT), in = Pin(k.Get(), PINDIR_INPUT);

    CMediaType audio(&MEDIATYPE_Audio);
    EXPECT_TRUE(FAILED(graph.builder->ConnectDirect(out.Get(), in.Get(), &audio)));
    CMediaType onlyYuy2(&MEDIATYPE_Video);
    onlyYuy2.SetSubtype(&MEDIASUBTYPE_YUY2);
    ASSERT_EQ(graph.builder->ConnectDirect(out.Get(), in.Get(), &onlyYuy2), S_OK);
    EXPECT_TRUE(ConnectionType(out) == kYuy2);
    EXPECT_TRUE(ConnectionType(in) == kYuy2);
    EXPECT_EQ(graph.builder->ConnectDirect(out.Get(), in.Get(), nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST(GraphBuilding, DisconnectReconnectAndReconnectEx)
{
    TestGraph graph;
    auto* source = new PushSource({kRgb, kYuy2}, 2, 256);
    auto* sink = new TestSink([](const CMediaType& mt) { return mt.subtype != MEDIASUBTYPE_UYVY; });
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(k, u"Sink");
    auto out = Pin(s.Get(), PINDIR_OUTPUT), in = Pin(k.Get(), PINDIR_INPUT);
    ASSERT_EQ(graph.builder->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
    EXPECT_TRUE(ConnectionType(in) == kRgb);

    // ReconnectEx from either end, with a new type: both ends and the allocator follow it.
    ASSERT_EQ(graph.builder->ReconnectEx(in.Get(), &kYuy2), S_OK);
    EXPECT_TRUE(ConnectionType(out) == kYuy2);
    EXPECT_TRUE(ConnectionType(in) == kYuy2);
    EXPECT_EQ(source->Out()->Allocator(), sink->In()->PeekAllocator());

    // A type the sink refuses fails and leaves the connection as it was.
    CMediaType uyvy = VideoOf(MEDIASUBTYPE_UYVY, 8, 4, 16);
    source->types.push_back(uyvy);
    EXPECT_TRUE(FAILED(graph.builder->ReconnectEx(out.Get(), &uyvy)));
    EXPECT_TRUE(PeerOf(out) == in);
    EXPECT_TRUE(ConnectionType(in) == kYuy2);

    // The filter's own request goes through the graph the same way.
    ASSERT_EQ(source->ReconnectPin(out.Get(), &kRgb), S_OK);
    EXPECT_TRUE(ConnectionType(in) == kRgb);

    ASSERT_EQ(graph.control->Pause(), S_OK);
    EXPECT_EQ(graph.builder->Reconnect(out.Get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph.builder->Disconnect(out.Get()), VFW_E_NOT_STOPPED);
    ASSERT_EQ(graph.control->Stop(), S_OK);
    ASSERT_EQ(graph.builder->Reconnect(out.Get()), S_OK);
    EXPECT_TRUE(PeerOf(out) == in);

    // Disconnect breaks one end only; RemoveFilter breaks both ends of every pin.
    ASSERT_EQ(graph.builder->Disconnect(out.Get()), S_OK);
    EXPECT_FALSE(PeerOf(out));
    EXPECT_TRUE(PeerOf(in) == out);
    EXPECT_EQ(graph.builder->Disconnect(out.Get()), S_FALSE);
    EXPECT_EQ(graph.builder->ReconnectEx(out.Get(), nullptr), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph.builder->Disconnect(in.Get()), S_OK);
    ASSERT_EQ(graph.builder->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
    ASSERT_EQ(graph.builder->RemoveFilter(k.Get()), S_OK);
    EXPECT_FALSE(PeerOf(out));
    EXPECT_FALSE(PeerOf(in));
    EXPECT_EQ(graph.Names(), std::vector<std::u16string>{u"Source"});
}

ComPtr<IBaseFilter> LoadAuxFilter(const char* file, REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    std::string path = std::string(VELTRO_BIN_DIR) + "/filters/" + file;
    EXPECT_EQ(CreateInstanceFromLibrary(path, clsid, IID_IBaseFilter, filter.PutVoid()), S_OK) << path;
    return filter;
}

int OutputCount(IBaseFilter* filter)
{
    int n = 0;
    while (Pin(filter, PINDIR_OUTPUT, n)) ++n;
    return n;
}

// Source -> [limiter] -> "Inf Tee 1" -> first sink; then RenderStream(limiter or source, second
// sink) must find the tee's new output and connect it; both sinks then receive the stream.
void RenderThroughTee(bool withLimiter)
{
    TestGraph graph;
    auto source = TestSource::Make(kRgb, 50, 128);
    ComPtr<IBaseFilter> limiter = withLimiter ? LoadAuxFilter("KeshControlFps.ax", CLSID_KeshControlFps) : nullptr;
    ComPtr<IBaseFilter> tee = LoadAuxFilter("KeshInfTee.ax", CLSID_KeshInfTee);
    ASSERT_TRUE(tee);
    auto* preview = new TestSink;
    auto* resizer = new TestSink;
    auto p = Hold(preview), r = Hold(resizer);
    graph.Add(source, u"Source");
    if (limiter) graph.Add(limiter, u"Control fps");
    graph.Add(tee, u"Inf Tee 1");
    graph.Add(p, u"Preview");
    graph.Add(r, u"Resizer");

    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.builder.Get()), S_OK);
    IBaseFilter* head = limiter ? limiter.Get() : source.Get();
    if (limiter) ASSERT_EQ(builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, limiter.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, head, nullptr, tee.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, head, nullptr, p.Get()), S_OK);
    int outputsBefore = OutputCount(tee.Get());

    // The head's only output feeds the tee: the search continues at the tee's free output.
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, head, nullptr, r.Get()), S_OK);
    ComPtr<IPin> feeding = PeerOf(Pin(r.Get(), PINDIR_INPUT));
    ASSERT_TRUE(feeding);
    EXPECT_TRUE(OwnerOf(feeding) == tee);
    EXPECT_TRUE(OwnerOf(PeerOf(Pin(p.Get(), PINDIR_INPUT))) == tee);
    EXPECT_GE(OutputCount(tee.Get()), outputsBefore);
    std::string topology = DescribeGraph(graph.builder.Get());
    EXPECT_NE(topology.find("\"Inf Tee 1\""), std::string::npos) << topology;
    EXPECT_NE(topology.find("-> \"Resizer\" \"In\""), std::string::npos) << topology;

    ASSERT_EQ(graph.control->Run(), S_OK);
    EXPECT_TRUE(preview->WaitFor(1));
    EXPECT_TRUE(resizer->WaitFor(1));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_FALSE(preview->Samples().empty());
    EXPECT_FALSE(resizer->Samples().empty());
}

TEST(RenderStream, FindsTheTeesNewOutputWhenTheSourceIsTaken) { RenderThroughTee(false); }

TEST(RenderStream, FindsTheTeesNewOutputBehindTheFrameRateLimiter) { RenderThroughTee(true); }

TEST(RenderStream, FailsWhenNothingDownstreamHasAFreeOutput)
{
    TestGraph graph;
    auto source = TestSource::Make(kRgb, 1, 128);
    auto* first = new TestSink;
    auto* second = new TestSink;
    auto f = Hold(first), g = Hold(second);
    graph.Add(source, u"Source");
    graph.Add(f, u"First");
    graph.Add(g, u"Second");
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.builder.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, f.Get()), S_OK);
    EXPECT_TRUE(FAILED(builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, g.Get())));
    EXPECT_FALSE(PeerOf(Pin(g.Get(), PINDIR_INPUT)));
}

TEST(Completion, HostHearsOnceWhenEveryRendererHasFinishedEvenAcrossAPause)
{
    TestGraph graph;
    auto* a = new PushSource({kRgb}, 2, 64);
    auto* b = new PushSource({kRgb}, 2, 64);
    auto sa = Hold(a), sb = Hold(b);
    auto ra = Create<IBaseFilter>(CLSID_NullRenderer), rb = Create<IBaseFilter>(CLSID_NullRenderer);
    graph.Add(sa, u"A");
    graph.Add(sb, u"B");
    graph.Add(ra, u"Renderer A");
    graph.Add(rb, u"Renderer B");
    ASSERT_EQ(graph.builder->ConnectDirect(Pin(sa.Get(), PINDIR_OUTPUT).Get(), Pin(ra.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ASSERT_EQ(graph.builder->ConnectDirect(Pin(sb.Get(), PINDIR_OUTPUT).Get(), Pin(rb.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);

    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_EQ(a->Push(1), S_OK);
    ASSERT_EQ(a->Out()->DeliverEndOfStream(), S_OK);
    LONG code = 0;
    EXPECT_EQ(graph.events->WaitForCompletion(0, &code), E_ABORT);

    // Renderer A's report survives a pause: B's end completes the graph.
    ASSERT_EQ(graph.control->Pause(), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_EQ(b->Out()->DeliverEndOfStream(), S_OK);
    ASSERT_EQ(graph.events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    LONG_PTR p1, p2;
    ASSERT_EQ(graph.events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(graph.events->GetEvent(&code, &p1, &p2, 0), E_ABORT);

    // A new run starts over; with default handling cancelled each renderer's report passes.
    ASSERT_EQ(graph.control->Stop(), S_OK);
    ASSERT_EQ(graph.events->CancelDefaultHandling(EC_COMPLETE), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    EXPECT_EQ(graph.events->WaitForCompletion(0, &code), E_ABORT);
    ASSERT_EQ(a->Out()->DeliverEndOfStream(), S_OK);
    ASSERT_EQ(b->Out()->DeliverEndOfStream(), S_OK);
    std::vector<LONG_PTR> reporters;
    while (graph.events->GetEvent(&code, &p1, &p2, 0) == S_OK)
        if (code == EC_COMPLETE) reporters.push_back(p2);
    ASSERT_EQ(reporters.size(), 2u);
    EXPECT_NE(std::find(reporters.begin(), reporters.end(), reinterpret_cast<LONG_PTR>(ra.Get())), reporters.end());
    EXPECT_NE(std::find(reporters.begin(), reporters.end(), reinterpret_cast<LONG_PTR>(rb.Get())), reporters.end());
}

TEST(Completion, EndOfStreamWhilePausedIsReportedOnRun)
{
    TestGraph graph;
    auto* a = new PushSource({kRgb}, 2, 64);
    auto sa = Hold(a);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer);
    graph.Add(sa, u"A");
    graph.Add(renderer, u"Renderer");
    ASSERT_EQ(graph.builder->ConnectDirect(Pin(sa.Get(), PINDIR_OUTPUT).Get(), Pin(renderer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    ASSERT_EQ(a->Out()->DeliverEndOfStream(), S_OK);
    LONG code = 0;
    EXPECT_EQ(graph.events->WaitForCompletion(0, &code), E_ABORT);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_EQ(graph.events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    // After the end of stream the renderer takes no more samples.
    EXPECT_EQ(a->Push(1), VFW_E_SAMPLE_REJECTED_EOS);
}

TEST(Topology, ListsFiltersPinsConnectionsAndTypes)
{
    TestGraph graph;
    auto* source = new PushSource({kRgb}, 2, 128);
    auto* middle = new PassThrough;
    auto s = Hold(source), m = Hold(middle);
    graph.Add(s, u"Source");
    graph.Add(m, u"Middle");
    ASSERT_EQ(graph.builder->ConnectDirect(Pin(s.Get(), PINDIR_OUTPUT).Get(), Pin(m.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    std::string text = DescribeGraph(graph.builder.Get());
    EXPECT_EQ(text,
              "\"Source\" " + GuidToString(CLSID_PushSource) + " stopped\n"
              "  out \"Out\" -> \"Middle\" \"XForm In\" [Video RGB32 VideoInfo 8x4 32bit 25.000fps]\n"
              "\"Middle\" " + GuidToString(CLSID_PassThrough) + " stopped\n"
              "  in  \"XForm In\" <- \"Source\" \"Out\" [Video RGB32 VideoInfo 8x4 32bit 25.000fps]\n"
              "  out \"XForm Out\" (free)\n");
    EXPECT_EQ(DescribeGraph(nullptr), "");
}

TEST(GraphBuilding, EnumeratorNoticesChangesUntilReset)
{
    TestGraph graph;
    auto first = Create<IBaseFilter>(CLSID_NullRenderer), second = Create<IBaseFilter>(CLSID_NullRenderer);
    graph.Add(first, u"R");
    ComPtr<IEnumFilters> list;
    ASSERT_EQ(graph.builder->EnumFilters(list.Put()), S_OK);
    ASSERT_EQ(graph.builder->AddFilter(second.Get(), u"R"), VFW_S_DUPLICATE_NAME);
    IBaseFilter* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(list->Next(2, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(list->Reset(), S_OK);
    ASSERT_EQ(list->Next(2, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    for (IBaseFilter* filter : got) filter->Release();
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph.builder->FindFilterByName(u"R 0001", found.Put()), S_OK);
    EXPECT_TRUE(found == second);
    EXPECT_EQ(graph.builder->AddFilter(second.Get(), u"again"), E_INVALIDARG);
}

}  // namespace

namespace {

TEST(GraphBuilding, ReleasingTheGraphFreesItsConnectedFilters)
{
    LONG before = CBaseObject::ObjectsActive();
    {
        TestGraph graph;
        auto source = TestSource::Make(kRgb, 3, 128);
        auto renderer = Create<IBaseFilter>(CLSID_NullRenderer);
        graph.Add(source, u"Source");
        graph.Add(renderer, u"Renderer");
        ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(renderer.Get(), PINDIR_INPUT).Get()), S_OK);
        ASSERT_EQ(graph.control->Run(), S_OK);
    }
    // Connected pins reference each other's filters; the graph breaks those cycles.
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

}  // namespace
