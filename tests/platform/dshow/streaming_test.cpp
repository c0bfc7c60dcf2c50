// Streaming through the base classes in a graph: allocator negotiation, pools, flushing, end
// of stream through a transform, type changes carried on samples and the state machine.
#include <gtest/gtest.h>

#include <thread>

#include "dshow/filtergraph.h"
#include "dshow/qedit.h"
#include "dshow/streams.h"
#include "test_filters.h"
#include "test_source.h"

namespace {

const CMediaType kRgb = VideoOf(MEDIASUBTYPE_RGB32, 8, 4, 32);

// Push source -> copying transform -> recording sink, connected.
struct Chain {
    TestGraph graph;
    PushSource* source = new PushSource({kRgb}, 2, 64);
    PassThrough* middle = new PassThrough;
    TestSink* sink = new TestSink;
    ComPtr<IBaseFilter> held[3] = {Hold(source), Hold(middle), Hold(sink)};

    Chain()
    {
        graph.Add(held[0], u"Source");
        graph.Add(held[1], u"Middle");
        graph.Add(held[2], u"Sink");
        EXPECT_EQ(graph.Link(held[0], held[1]), S_OK);
        EXPECT_EQ(graph.Link(held[1], held[2]), S_OK);
    }
};

TEST(Streaming, OutputPinUsesTheInputPinsAllocatorWithItsRequirements)
{
    TestGraph graph;
    auto* source = new PushSource({kRgb}, 2, 128);
    auto* sink = new TestSink;
    sink->requirements = {5, 0, 32, 0};
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(k, u"Sink");
    ASSERT_EQ(graph.Link(s, k), S_OK);

    EXPECT_EQ(source->requested.cBuffers, 5);
    EXPECT_EQ(source->requested.cbAlign, 32);
    EXPECT_EQ(source->actual.cBuffers, 5);
    ASSERT_NE(source->Out()->Allocator(), nullptr);
    EXPECT_EQ(source->Out()->Allocator(), sink->In()->PeekAllocator());

    // Stopped: the pool is not committed, nothing can be delivered.
    EXPECT_EQ(source->Push(1), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    EXPECT_EQ(source->Push(1), S_OK);
    auto samples = sink->Samples();
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(samples[0].buffer) % 32, 0u);
    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_EQ(source->Push(2), VFW_E_NOT_COMMITTED);

    // Disconnecting gives the allocator up on both sides.
    ASSERT_EQ(graph.builder->Disconnect(Pin(s.Get(), PINDIR_OUTPUT).Get()), S_OK);
    ASSERT_EQ(graph.builder->Disconnect(Pin(k.Get(), PINDIR_INPUT).Get()), S_OK);
    EXPECT_EQ(source->Out()->Allocator(), nullptr);
    EXPECT_EQ(sink->In()->PeekAllocator(), nullptr);
}

TEST(Streaming, HeldSamplesDrainThePoolAndStopReleasesABlockedSender)
{
    TestGraph graph;
    auto* source = new PushSource({kRgb}, 3, 64);
    auto* sink = new TestSink;
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(k, u"Sink");
    ASSERT_EQ(graph.Link(s, k), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);

    sink->HoldSamples(true);
    for (BYTE i = 0; i < 3; ++i) ASSERT_EQ(source->Push(i), S_OK);
    IMediaSample* extra = nullptr;
    EXPECT_EQ(source->Out()->GetDeliveryBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    // Released samples come back to the same pool.
    auto first = sink->Samples();
    sink->ReleaseHeld();
    sink->HoldSamples(false);
    ASSERT_EQ(source->Push(9), S_OK);
    auto after = sink->Samples();
    bool reused = false;
    for (const auto& earlier : first) reused |= earlier.buffer == after.back().buffer;
    EXPECT_TRUE(reused);

    // A sender blocked on an empty pool returns when the graph stops.
    sink->HoldSamples(true);
    for (BYTE i = 0; i < 3; ++i) ASSERT_EQ(source->Push(i), S_OK);
    std::atomic<HRESULT> blocked{S_OK};
    std::thread sender([&] { blocked = source->Push(5); });
    ASSERT_EQ(graph.control->Stop(), S_OK);
    sender.join();
    EXPECT_EQ(blocked.load(), VFW_E_NOT_COMMITTED);
    sink->ReleaseHeld();
}

TEST(Streaming, FlushReachesDownstreamAndSamplesAreRefusedUntilItEnds)
{
    Chain chain;
    PushSource* source = chain.source;
    TestSink* sink = chain.sink;
    TestGraph& graph = chain.graph;
    ASSERT_EQ(graph.control->Pause(), S_OK);

    ASSERT_EQ(source->Push(1), S_OK);
    ASSERT_EQ(source->Out()->DeliverBeginFlush(), S_OK);
    EXPECT_EQ(sink->beginFlushes.load(), 1);
    EXPECT_TRUE(sink->In()->IsFlushing());
    EXPECT_EQ(source->Push(2), S_FALSE);
    EXPECT_EQ(source->Out()->DeliverEndOfStream(), S_FALSE);
    EXPECT_EQ(sink->Samples().size(), 1u);
    EXPECT_EQ(sink->endOfStreams.load(), 0);

    ASSERT_EQ(source->Out()->DeliverEndFlush(), S_OK);
    EXPECT_EQ(sink->endFlushes.load(), 1);
    EXPECT_FALSE(sink->In()->IsFlushing());
    EXPECT_EQ(source->Push(3), S_OK);
    auto samples = sink->Samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].first, 4);  // 3, plus one in the transform
}

TEST(Streaming, EndOfStreamPassesThroughATransformAfterItsSamples)
{
    Chain chain;
    PushSource* source = chain.source;
    PassThrough* middle = chain.middle;
    TestSink* sink = chain.sink;
    middle->dropEvery = 3;
    TestGraph& graph = chain.graph;

    // Stopped, the transform takes no end of stream either.
    EXPECT_EQ(source->Out()->DeliverEndOfStream(), VFW_E_WRONG_STATE);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    EXPECT_EQ(middle->starts.load(), 1);
    for (BYTE i = 0; i < 6; ++i) ASSERT_EQ(source->Push(BYTE(10 * i), REFERENCE_TIME(i) * 100), S_OK);
    ASSERT_EQ(source->Out()->DeliverEndOfStream(), S_OK);
    EXPECT_EQ(sink->endOfStreams.load(), 1);

    // Every third sample was dropped by the transform; the others kept their times.
    auto samples = sink->Samples();
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0].first, 1);
    EXPECT_EQ(samples[2].first, 31);
    EXPECT_EQ(samples[2].start, 300);
    EXPECT_NE(samples[0].buffer, nullptr);

    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_EQ(middle->stops.load(), 1);
    // A new run takes a new end of stream.
    ASSERT_EQ(graph.control->Pause(), S_OK);
    ASSERT_EQ(source->Out()->DeliverEndOfStream(), S_OK);
    EXPECT_EQ(sink->endOfStreams.load(), 2);
}

TEST(Streaming, TypeChangeOnASampleIsCheckedAndTakenOrEndsTheStream)
{
    TestGraph graph;
    CMediaType smaller = VideoOf(MEDIASUBTYPE_RGB32, 4, 2, 32);
    CMediaType audio(&MEDIATYPE_Audio);
    auto* source = new PushSource({kRgb}, 2, 128);
    auto* sink = new TestSink;
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(k, u"Sink");
    ASSERT_EQ(graph.Link(s, k), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);

    ASSERT_EQ(source->Push(1, 0, &smaller), S_OK);
    EXPECT_TRUE(sink->Samples().back().typeChanged);
    EXPECT_TRUE(sink->In()->CurrentMediaType() == smaller);
    ASSERT_EQ(source->Push(2), S_OK);
    EXPECT_FALSE(sink->Samples().back().typeChanged);

    // A type the pin refuses: the sample is rejected, the host hears of it, and the pin
    // refuses everything until the graph stops.
    EXPECT_EQ(source->Push(3, 0, &audio), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(sink->In()->CurrentMediaType() == smaller);
    EXPECT_EQ(source->Push(4), VFW_E_RUNTIME_ERROR);
    std::vector<LONG> codes = graph.Drain();
    EXPECT_NE(std::find(codes.begin(), codes.end(), EC_ERRORABORT), codes.end());
    ASSERT_EQ(graph.control->Stop(), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    EXPECT_EQ(source->Push(5), S_OK);
}

TEST(Streaming, TypeChangeTravelsWithTheSampleThroughAnInPlaceFilter)
{
    TestGraph graph;
    CMediaType smaller = VideoOf(MEDIASUBTYPE_RGB32, 4, 2, 32);
    auto* source = new PushSource({kRgb}, 2, 128);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber);
    auto* sink = new TestSink;
    auto s = Hold(source), k = Hold(sink);
    graph.Add(s, u"Source");
    graph.Add(grabber, u"Grabber");
    graph.Add(k, u"Sink");
    ASSERT_EQ(graph.Link(s, grabber), S_OK);
    ASSERT_EQ(graph.Link(grabber, k), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);

    ASSERT_EQ(source->Push(7, 0, &smaller), S_OK);
    auto samples = sink->Samples();
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_TRUE(samples[0].typeChanged);
    EXPECT_EQ(samples[0].first, 7);
    EXPECT_TRUE(sink->In()->CurrentMediaType() == smaller);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber.As<ISampleGrabber>()->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(CMediaType(connected) == smaller);
    FreeMediaType(connected);
}

// A live source: paused, it delivers nothing it could cue, so GetState says VFW_S_CANT_CUE.
class LiveSource : public TestSource {
public:
    using TestSource::TestSource;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override
    {
        HRESULT hr = CBaseFilter::GetState(timeout, state);
        return SUCCEEDED(hr) && *state == State_Paused ? VFW_S_CANT_CUE : hr;
    }
};

TEST(Streaming, StateMachineWithStreamTimeAndALiveSource)
{
    TestGraph graph;
    auto* live = new LiveSource(kRgb, 1 << 30, 128);
    auto* middle = new PassThrough;
    auto s = Hold(live), m = Hold(middle);
    auto sink = Create<IBaseFilter>(CLSID_NullRenderer);
    graph.Add(s, u"Live");
    graph.Add(m, u"Middle");
    graph.Add(sink, u"Sink");
    ASSERT_EQ(graph.Link(s, m), S_OK);
    ASSERT_EQ(graph.Link(m, sink), S_OK);

    CRefTime streamTime;
    OAFilterState state = -1;
    EXPECT_EQ(graph.control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    ASSERT_EQ(graph.control->Pause(), S_OK);
    EXPECT_EQ(graph.control->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    LONGLONG paused1 = -1, paused2 = -1;
    graph.seeking->GetCurrentPosition(&paused1);
    graph.seeking->GetCurrentPosition(&paused2);
    EXPECT_EQ(paused1, 0);
    EXPECT_EQ(paused2, 0);

    ASSERT_EQ(graph.control->Run(), S_OK);
    EXPECT_EQ(graph.control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    FILTER_STATE filterState;
    for (IBaseFilter* filter : {s.Get(), m.Get(), sink.Get()}) {
        EXPECT_EQ(filter->GetState(0, &filterState), S_OK);
        EXPECT_EQ(filterState, State_Running);
    }
    // Stream time is the clock's time minus the start time: the graph's position brackets it.
    LONGLONG before = 0, after = 0;
    graph.seeking->GetCurrentPosition(&before);
    ASSERT_EQ(live->StreamTime(streamTime), S_OK);
    graph.seeking->GetCurrentPosition(&after);
    EXPECT_LE(before, REFERENCE_TIME(streamTime));
    EXPECT_LE(REFERENCE_TIME(streamTime), after);
    EXPECT_LE(before, after);

    // Pausing freezes the position; running again continues from it.
    ASSERT_EQ(graph.control->Pause(), S_OK);
    graph.seeking->GetCurrentPosition(&paused1);
    graph.seeking->GetCurrentPosition(&paused2);
    EXPECT_EQ(paused1, paused2);
    EXPECT_GE(paused1, after);
    ASSERT_EQ(graph.control->Run(), S_OK);
    LONGLONG resumed = 0;
    graph.seeking->GetCurrentPosition(&resumed);
    EXPECT_GE(resumed, paused1);

    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_EQ(middle->stops.load(), 1);
    graph.seeking->GetCurrentPosition(&resumed);
    EXPECT_EQ(resumed, 0);
    EXPECT_EQ(s->GetState(0, &filterState), S_OK);
    EXPECT_EQ(filterState, State_Stopped);
    DWORD caps = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanSeekAbsolute;
    EXPECT_EQ(graph.seeking->CheckCapabilities(&caps), S_FALSE);
    EXPECT_EQ(caps, AM_SEEKING_CanGetCurrentPos);
}

TEST(Streaming, FilterOutsideAGraphHasNoStreamTime)
{
    auto* live = new LiveSource(kRgb, 1, 16);
    auto s = Hold(live);
    CRefTime time;
    EXPECT_EQ(live->StreamTime(time), VFW_E_NO_CLOCK);
}

// A stream whose thread refuses to start the first `failures` times.
class ReluctantStream : public TestSourceStream {
public:
    ReluctantStream(CSource* filter, int failures) : TestSourceStream(filter, kRgb, 1 << 30, 64, nullptr), failures_(failures) {}
    HRESULT OnThreadCreate() override { return failures_-- > 0 ? E_FAIL : S_OK; }

private:
    std::atomic<int> failures_;
};

class TwoStreamSource : public CSource {
public:
    explicit TwoStreamSource(int secondFailures) : CSource("Two streams", nullptr, CLSID_TestSource)
    {
        new ReluctantStream(this, 0);
        new ReluctantStream(this, secondFailures);
    }
};

TEST(Streaming, AFailedStartLeavesEveryStreamStoppedAndCanBeRetried)
{
    TestGraph graph;
    auto* source = new TwoStreamSource(1);
    auto s = Hold(source);
    auto first = Create<IBaseFilter>(CLSID_NullRenderer), second = Create<IBaseFilter>(CLSID_NullRenderer);
    graph.Add(s, u"Source");
    graph.Add(first, u"First");
    graph.Add(second, u"Second");
    ASSERT_EQ(graph.Link(s, first, 0), S_OK);
    ASSERT_EQ(graph.Link(s, second, 1), S_OK);

    EXPECT_EQ(graph.control->Run(), E_FAIL);
    OAFilterState state = -1;
    graph.control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    // The first stream's thread was stopped with the failure: it can start again, and the
    // second stream, whose thread ended, gets a new one.
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_EQ(graph.control->Stop(), S_OK);
    ASSERT_EQ(graph.control->Pause(), S_OK);
    ASSERT_EQ(graph.control->Stop(), S_OK);
}

}  // namespace
