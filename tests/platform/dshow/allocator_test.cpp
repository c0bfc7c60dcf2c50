// The memory allocator's pool and the media sample: commit and decommit, blocking GetBuffer,
// samples going back to the pool with their state reset, and the sample's properties.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "dshow/amalloc.h"

namespace {

ComPtr<IMemAllocator> NewAllocator()
{
    ComPtr<IMemAllocator> allocator;
    EXPECT_EQ(CreateComObject(CMemAllocator::CreateInstance, nullptr, IID_IMemAllocator, allocator.PutVoid()), S_OK);
    return allocator;
}

ComPtr<IMediaSample> Take(IMemAllocator* allocator, DWORD flags = 0, HRESULT* result = nullptr)
{
    IMediaSample* sample = nullptr;
    HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, flags);
    if (result) *result = hr;
    return ComPtr<IMediaSample>::Adopt(sample);
}

BYTE* BufferOf(IMediaSample* sample)
{
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    return data;
}

void Configure(IMemAllocator* allocator, LONG count, LONG size, LONG align = 1)
{
    ALLOCATOR_PROPERTIES wanted{count, size, align, 0}, actual{};
    ASSERT_EQ(allocator->SetProperties(&wanted, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, count);
    EXPECT_EQ(actual.cbBuffer, size);
}

TEST(Allocator, PoolIsMadeAtCommitAndReusedFrameAfterFrame)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 3, 1000, 16);
    HRESULT hr;
    EXPECT_FALSE(Take(allocator.Get(), 0, &hr));
    EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);

    std::set<BYTE*> pool;
    {
        auto a = Take(allocator.Get()), b = Take(allocator.Get()), c = Take(allocator.Get());
        for (IMediaSample* s : {a.Get(), b.Get(), c.Get()}) {
            EXPECT_EQ(s->GetSize(), 1000);
            EXPECT_EQ(s->GetActualDataLength(), 1000);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(BufferOf(s)) % 16, 0u);
            pool.insert(BufferOf(s));
        }
        EXPECT_EQ(pool.size(), 3u);
        EXPECT_FALSE(Take(allocator.Get(), AM_GBF_NOWAIT, &hr));
        EXPECT_EQ(hr, VFW_E_TIMEOUT);
    }
    // Every later frame comes from the same three buffers: nothing is allocated per frame.
    for (int frame = 0; frame < 100; ++frame) {
        auto sample = Take(allocator.Get(), AM_GBF_NOWAIT, &hr);
        ASSERT_EQ(hr, S_OK) << frame;
        EXPECT_TRUE(pool.count(BufferOf(sample.Get())));
    }
    // The pool survives a decommit and a new commit with unchanged properties.
    EXPECT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(allocator->Commit(), S_OK);
    auto again = Take(allocator.Get());
    EXPECT_TRUE(pool.count(BufferOf(again.Get())));
}

TEST(Allocator, RefusesPropertiesItCannotHonour)
{
    auto allocator = NewAllocator();
    ALLOCATOR_PROPERTIES actual{};
    ALLOCATOR_PROPERTIES noBuffers{0, 100, 1, 0}, oddAlign{2, 100, 3, 0}, hugeAlign{2, 100, 8192, 0},
        overflowing{2, 0x7FFFFFF0, 64, 64}, enormousPool{100000, 0x7FFF0000, 1, 0};
    EXPECT_EQ(allocator->SetProperties(&noBuffers, &actual), E_INVALIDARG);
    EXPECT_EQ(allocator->SetProperties(&oddAlign, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(allocator->SetProperties(&hugeAlign, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(allocator->SetProperties(&overflowing, &actual), E_OUTOFMEMORY);
    EXPECT_EQ(allocator->SetProperties(&enormousPool, &actual), E_OUTOFMEMORY);
    EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);

    Configure(allocator.Get(), 2, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ALLOCATOR_PROPERTIES bigger{4, 128, 1, 0};
    EXPECT_EQ(allocator->SetProperties(&bigger, &actual), VFW_E_ALREADY_COMMITTED);
    {
        auto outstanding = Take(allocator.Get());
        ASSERT_EQ(allocator->Decommit(), S_OK);
        EXPECT_EQ(allocator->SetProperties(&bigger, &actual), VFW_E_BUFFERS_OUTSTANDING);
    }
    // With the last sample back the pool is made anew with the new sizes.
    EXPECT_EQ(allocator->SetProperties(&bigger, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    auto sample = Take(allocator.Get());
    EXPECT_EQ(sample->GetSize(), 128);
    ALLOCATOR_PROPERTIES now{};
    EXPECT_EQ(allocator->GetProperties(&now), S_OK);
    EXPECT_EQ(now.cBuffers, 4);
}

TEST(Allocator, GetBufferWaitsForASampleToComeBack)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 1, 32);
    ASSERT_EQ(allocator->Commit(), S_OK);
    auto only = Take(allocator.Get());
    BYTE* buffer = BufferOf(only.Get());

    std::atomic<bool> released{false};
    std::atomic<bool> gotAfterRelease{false};
    BYTE* got = nullptr;
    std::thread waiter([&] {
        auto sample = Take(allocator.Get());
        gotAfterRelease = released.load();
        got = sample ? BufferOf(sample.Get()) : nullptr;
    });
    released = true;
    only.Reset();
    waiter.join();
    EXPECT_TRUE(gotAfterRelease);
    EXPECT_EQ(got, buffer);
}

TEST(Allocator, DecommitReleasesWaitersAndFreesThePoolWhenTheLastSampleReturns)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 2, 32);
    ASSERT_EQ(allocator->Commit(), S_OK);
    auto first = Take(allocator.Get()), second = Take(allocator.Get());

    std::atomic<HRESULT> waited{S_OK};
    std::thread waiter([&] {
        HRESULT hr;
        auto sample = Take(allocator.Get(), 0, &hr);
        waited = hr;
    });
    // However the waiter and the decommit interleave, the waiter ends without a sample.
    EXPECT_EQ(allocator->Decommit(), S_OK);
    waiter.join();
    EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);

    // Outstanding samples stay usable and go back after the decommit.
    BYTE* data = BufferOf(first.Get());
    data[0] = 7;
    EXPECT_EQ(first->SetActualDataLength(1), S_OK);
    first.Reset();
    second.Reset();
    EXPECT_EQ(allocator->Commit(), S_OK);
    HRESULT hr;
    auto again = Take(allocator.Get(), AM_GBF_NOWAIT, &hr);
    EXPECT_EQ(hr, S_OK);
}

TEST(Allocator, OutstandingSampleKeepsTheAllocatorAlive)
{
    ComPtr<IMediaSample> sample;
    {
        auto allocator = NewAllocator();
        Configure(allocator.Get(), 1, 16);
        ASSERT_EQ(allocator->Commit(), S_OK);
        sample = Take(allocator.Get());
        allocator->Decommit();
    }
    BufferOf(sample.Get())[15] = 1;  // still owned memory
    sample.Reset();                  // the last reference: the allocator goes with it
}

TEST(Allocator, ManyThreadsShareOnePoolWithoutLosingSamples)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 3, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&allocator, t] {
            for (int i = 0; i < 500; ++i) {
                auto sample = Take(allocator.Get());
                ASSERT_TRUE(sample);
                BufferOf(sample.Get())[0] = BYTE(t);
                sample->SetSyncPoint(TRUE);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    // All three came back: three can be taken at once without waiting.
    HRESULT hr;
    auto a = Take(allocator.Get(), AM_GBF_NOWAIT, &hr), b = Take(allocator.Get(), AM_GBF_NOWAIT, &hr),
         c = Take(allocator.Get(), AM_GBF_NOWAIT, &hr);
    EXPECT_EQ(hr, S_OK);
}

TEST(MediaSample, StateIsResetWhenTheSampleReturnsToThePool)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 1, 100);
    ASSERT_EQ(allocator->Commit(), S_OK);
    {
        auto sample = Take(allocator.Get());
        REFERENCE_TIME start = 5, end = 9;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        sample->SetPreroll(TRUE);
        sample->SetDiscontinuity(TRUE);
        sample->SetActualDataLength(10);
        CMediaType audio(&MEDIATYPE_Audio);
        EXPECT_EQ(sample->SetMediaType(&audio), S_OK);
    }
    auto reused = Take(allocator.Get());
    REFERENCE_TIME start, end;
    EXPECT_EQ(reused->GetTime(&start, &end), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(reused->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(reused->IsPreroll(), S_FALSE);
    EXPECT_EQ(reused->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(reused->GetActualDataLength(), 100);
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(reused->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
}

TEST(MediaSample, TimesLengthsAndTypeFollowTheirContracts)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 1, 100);
    ASSERT_EQ(allocator->Commit(), S_OK);
    auto sample = Take(allocator.Get());

    REFERENCE_TIME start = 1000, end = 0;
    EXPECT_EQ(sample->SetTime(&start, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&start, &end), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(end, 1001);
    EXPECT_EQ(sample->SetTime(nullptr, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&start, &end), VFW_E_SAMPLE_TIME_NOT_SET);

    EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(sample->SetActualDataLength(100), S_OK);

    LONGLONG mediaStart = 10, mediaEnd = 20;
    EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaEnd), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(sample->SetMediaTime(&mediaStart, &mediaEnd), S_OK);
    mediaStart = mediaEnd = 0;
    EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaEnd), S_OK);
    EXPECT_EQ(mediaStart, 10);
    EXPECT_EQ(mediaEnd, 20);

    // The attached type is a copy: changing the caller's afterwards does not reach it.
    CMediaType video(&MEDIATYPE_Video);
    video.SetSubtype(&MEDIASUBTYPE_RGB32);
    BYTE block[4] = {1, 2, 3, 4};
    video.SetFormat(block, 4);
    EXPECT_EQ(sample->SetMediaType(&video), S_OK);
    video.Format()[0] = 9;
    AM_MEDIA_TYPE* attached = nullptr;
    ASSERT_EQ(sample->GetMediaType(&attached), S_OK);
    EXPECT_EQ(attached->subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(attached->pbFormat[0], 1);
    DeleteMediaType(attached);
    EXPECT_EQ(sample->SetMediaType(nullptr), S_OK);
    EXPECT_EQ(sample->GetMediaType(&attached), S_FALSE);
}

TEST(MediaSample, PropertiesRoundTripThroughIMediaSample2)
{
    auto allocator = NewAllocator();
    Configure(allocator.Get(), 1, 100);
    ASSERT_EQ(allocator->Commit(), S_OK);
    auto sample = Take(allocator.Get());
    ComPtr<IMediaSample2> sample2 = sample.As<IMediaSample2>();
    ASSERT_TRUE(sample2);

    CMediaType audio(&MEDIATYPE_Audio);
    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = sizeof(props);
    props.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED;
    props.lActual = 40;
    props.tStart = 100;
    props.tStop = 200;
    props.pMediaType = &audio;
    EXPECT_EQ(sample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);

    EXPECT_EQ(sample->IsSyncPoint(), S_OK);
    EXPECT_EQ(sample->GetActualDataLength(), 40);
    REFERENCE_TIME start, end;
    EXPECT_EQ(sample->GetTime(&start, &end), S_OK);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(end, 200);

    AM_SAMPLE2_PROPERTIES read{};
    EXPECT_EQ(sample2->GetProperties(sizeof(read), reinterpret_cast<BYTE*>(&read)), S_OK);
    EXPECT_EQ(read.cbData, sizeof(read));
    EXPECT_TRUE(read.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
    ASSERT_TRUE(read.pMediaType);
    EXPECT_EQ(read.pMediaType->majortype, MEDIATYPE_Audio);
    EXPECT_EQ(read.cbBuffer, 100);

    // A length past the buffer is refused and changes nothing.
    props.lActual = 101;
    EXPECT_EQ(sample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(sample->GetActualDataLength(), 40);
}

}  // namespace
