// Samples per second of 1080p frames through a chain of pass-through filters:
// source -> 5 in-place pass-throughs -> Null Renderer. The pass-throughs share the source's
// allocator, so the figure measures the runtime's per-sample cost, not copying.
#include <benchmark/benchmark.h>

#include "com/plugin.h"
#include "dshow/filtergraph.h"
#include "dshow/streams.h"
#include "test_source.h"

namespace {

constexpr GUID CLSID_PassThrough = {0x1F5F0C72, 0x8E2B, 0x4E6A, {0x9C, 0x11, 0x2A, 0x44, 0x51, 0x0D, 0x6E, 0x02}};

class PassThrough : public CTransInPlaceFilter {
public:
    PassThrough() : CTransInPlaceFilter("Pass-through", nullptr, CLSID_PassThrough, nullptr, false) {}
    HRESULT CheckInputType(const CMediaType*) override { return S_OK; }
    HRESULT Transform(IMediaSample*) override { return S_OK; }
};

void RunChain(benchmark::State& state, int frames)
{
    constexpr LONG kWidth = 1920, kHeight = 1080;
    CMediaType type = VideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight, 16, MakeFourCC('Y', 'U', 'Y', '2'));
    LONG size = kWidth * kHeight * 2;
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
    ComPtr<ICaptureGraphBuilder2> builder;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     builder.PutVoid());
    builder->SetFiltergraph(graph.Get());

    // Samples without times: nothing waits for a clock.
    ComPtr<IBaseFilter> previous = TestSource::Make(type, frames, size, [](int, IMediaSample* sample) {
        sample->SetTime(nullptr, nullptr);
    });
    graph->AddFilter(previous.Get(), u"Source");
    for (int i = 0; i < 5; ++i) {
        ComPtr<IBaseFilter> next(static_cast<IBaseFilter*>(new PassThrough));
        graph->AddFilter(next.Get(), u"Pass-through");
        builder->RenderStream(nullptr, nullptr, previous.Get(), nullptr, next.Get());
        previous = next;
    }
    ComPtr<IBaseFilter> sink;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, sink.PutVoid());
    graph->AddFilter(sink.Get(), u"Sink");
    if (FAILED(builder->RenderStream(nullptr, nullptr, previous.Get(), nullptr, sink.Get()))) {
        state.SkipWithError("chain did not connect");
        return;
    }
    auto control = graph.As<IMediaControl>();
    auto events = graph.As<IMediaEvent>();
    state.ResumeTiming();
    control->Run();
    LONG code;
    events->WaitForCompletion(60000, &code);
    state.PauseTiming();
    control->Stop();
}

void BM_Chain1080p(benchmark::State& state)
{
    constexpr int kFrames = 2000;
    for (auto _ : state) {
        state.PauseTiming();
        RunChain(state, kFrames);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["samples_per_s"] = benchmark::Counter(double(state.iterations()) * kFrames,
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Chain1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
