// Small filters for driving the base classes by hand: a push source whose output pin the
// test feeds from its own thread, a recording sink, and a copying transform.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "com/plugin.h"
#include "dshow/amfilter.h"
#include "dshow/transfrm.h"
#include "dshow/uuids.h"

constexpr GUID CLSID_PushSource = {0x1F5F0C71, 0x8E2B, 0x4E6A, {0x9C, 0x11, 0x2A, 0x44, 0x51, 0x0D, 0x6E, 0x02}};
constexpr GUID CLSID_TestSink = {0x1F5F0C71, 0x8E2B, 0x4E6A, {0x9C, 0x11, 0x2A, 0x44, 0x51, 0x0D, 0x6E, 0x03}};
constexpr GUID CLSID_PassThrough = {0x1F5F0C71, 0x8E2B, 0x4E6A, {0x9C, 0x11, 0x2A, 0x44, 0x51, 0x0D, 0x6E, 0x04}};

template <class T>
ComPtr<T> Create(REFCLSID clsid)
{
    ComPtr<T> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_OF(T), object.PutVoid()), S_OK);
    return object;
}

inline ComPtr<IPin> Pin(IBaseFilter* filter, PIN_DIRECTION dir, int n = 0)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Put());
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> owned = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION d;
        owned->QueryDirection(&d);
        if (d == dir && n-- == 0) return owned;
    }
    return nullptr;
}

inline CMediaType VideoOf(const GUID& subtype, LONG width, LONG height, WORD bits)
{
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = 400000;
    DWORD compression = subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB24 ? BI_RGB : subtype.Data1;
    vih->bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, bits, compression, 0, 0, 0, 0, 0};
    vih->bmiHeader.biSizeImage = GetBitmapFrameSize(vih->bmiHeader);
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

// A filter graph for one test, stopped when the test ends.
struct TestGraph {
    ComPtr<IFilterGraph2> builder = Create<IFilterGraph2>(CLSID_FilterGraph);
    ComPtr<IMediaControl> control = builder.As<IMediaControl>();
    ComPtr<IMediaEventEx> events = builder.As<IMediaEventEx>();
    ComPtr<IMediaSeeking> seeking = builder.As<IMediaSeeking>();

    ~TestGraph() { control->Stop(); }
    void Add(const ComPtr<IBaseFilter>& filter, const char16_t* name) { ASSERT_TRUE(SUCCEEDED(builder->AddFilter(filter.Get(), name))); }
    HRESULT Link(const ComPtr<IBaseFilter>& from, const ComPtr<IBaseFilter>& to, int outIndex = 0)
    {
        return builder->ConnectDirect(Pin(from.Get(), PINDIR_OUTPUT, outIndex).Get(), Pin(to.Get(), PINDIR_INPUT).Get(), nullptr);
    }
    // The codes of the queued events, without waiting.
    std::vector<LONG> Drain()
    {
        std::vector<LONG> codes;
        LONG code;
        LONG_PTR p1, p2;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
        return codes;
    }
    std::vector<std::u16string> Names()
    {
        std::vector<std::u16string> names;
        ComPtr<IEnumFilters> list;
        builder->EnumFilters(list.Put());
        IBaseFilter* filter = nullptr;
        while (list->Next(1, &filter, nullptr) == S_OK) {
            FILTER_INFO info{};
            filter->QueryFilterInfo(&info);
            if (info.pGraph) info.pGraph->Release();
            names.push_back(info.achName);
            filter->Release();
        }
        return names;
    }
};

// Wraps a CUnknown-derived filter (reference count 0) in its first reference.
template <class F>
ComPtr<IBaseFilter> Hold(F* filter)
{
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
}

// ---- push source: one output pin of a fixed type; the test delivers on its own thread.

class PushSource : public CBaseFilter {
public:
    class OutputPin : public CBaseOutputPin {
    public:
        OutputPin(PushSource* filter, HRESULT* phr) : CBaseOutputPin("push out", filter, &filter->lock_, phr, u"Out"), owner_(filter) {}
        HRESULT CheckMediaType(const CMediaType* mt) override
        {
            for (const CMediaType& offered : owner_->types) if (offered == *mt) return S_OK;
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int position, CMediaType* mt) override
        {
            if (position < 0) return E_INVALIDARG;
            if (size_t(position) >= owner_->types.size()) return VFW_S_NO_MORE_ITEMS;
            *mt = owner_->types[size_t(position)];
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
        {
            owner_->requested = *request;
            ALLOCATOR_PROPERTIES wanted{std::max(request->cBuffers, owner_->buffers), owner_->bufferSize,
                                        std::max<LONG>(request->cbAlign, 1), request->cbPrefix};
            return allocator->SetProperties(&wanted, &owner_->actual);
        }

    private:
        PushSource* owner_;
    };

    PushSource(std::vector<CMediaType> offered, LONG buffers, LONG size)
        : CBaseFilter("Push Source", nullptr, &lock_, CLSID_PushSource), types(std::move(offered)), buffers(buffers),
          bufferSize(size)
    {
        HRESULT hr = S_OK;
        out_ = new OutputPin(this, &hr);
    }
    ~PushSource() override { delete out_; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? out_ : nullptr; }
    OutputPin* Out() { return out_; }

    // One sample from the pool, filled with `fill`, stamped [start, start + 1 ms).
    HRESULT Push(BYTE fill, REFERENCE_TIME start = 0, const AM_MEDIA_TYPE* changed = nullptr)
    {
        IMediaSample* sample = nullptr;
        HRESULT hr = out_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memset(data, fill, size_t(sample->GetSize()));
        REFERENCE_TIME end = start + 10000;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        if (changed) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(changed));
        hr = out_->Deliver(sample);
        sample->Release();
        return hr;
    }

    std::vector<CMediaType> types;
    LONG buffers;
    LONG bufferSize;
    ALLOCATOR_PROPERTIES requested{};
    ALLOCATOR_PROPERTIES actual{};

private:
    CCritSec lock_;
    OutputPin* out_;
};

// ---- recording sink: one input pin that counts what reaches it and can hold samples.

class TestSink : public CBaseFilter {
public:
    struct Received {
        BYTE* buffer;
        BYTE first;
        REFERENCE_TIME start;
        bool typeChanged;
    };

    class InputPin : public CBaseInputPin {
    public:
        InputPin(TestSink* filter, HRESULT* phr) : CBaseInputPin("sink in", filter, &filter->lock_, phr, u"In"), owner_(filter) {}
        HRESULT CheckMediaType(const CMediaType* mt) override { return owner_->accept(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
        HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override
        {
            if (owner_->requirements.cBuffers == 0) return E_NOTIMPL;
            *props = owner_->requirements;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
        {
            HRESULT hr = CBaseInputPin::Receive(sample);
            if (hr != S_OK) {
                ++owner_->refused;
                return hr;
            }
            owner_->Record(sample, (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE EndOfStream() override
        {
            if (CheckStreaming() != S_OK) return S_FALSE;
            ++owner_->endOfStreams;
            owner_->changed_.notify_all();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE BeginFlush() override
        {
            ++owner_->beginFlushes;
            return CBaseInputPin::BeginFlush();
        }
        HRESULT STDMETHODCALLTYPE EndFlush() override
        {
            ++owner_->endFlushes;
            return CBaseInputPin::EndFlush();
        }

    private:
        TestSink* owner_;
    };

    explicit TestSink(std::function<bool(const CMediaType&)> accepts = nullptr)
        : CBaseFilter("Test Sink", nullptr, &lock_, CLSID_TestSink),
          accept(accepts ? std::move(accepts) : [](const CMediaType& mt) { return mt.majortype == MEDIATYPE_Video; })
    {
        HRESULT hr = S_OK;
        in_ = new InputPin(this, &hr);
    }
    ~TestSink() override
    {
        ReleaseHeld();
        delete in_;
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? in_ : nullptr; }
    InputPin* In() { return in_; }

    // Keeps each received sample (so the pool runs dry) until ReleaseHeld.
    void HoldSamples(bool hold) { hold_ = hold; }
    void ReleaseHeld()
    {
        std::vector<IMediaSample*> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (IMediaSample* sample : held) sample->Release();
    }
    std::vector<Received> Samples()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Waits until `count` samples arrived or an end of stream did; false after 10 s.
    bool WaitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return received_.size() >= count || endOfStreams > 0; });
    }
    bool WaitForEndOfStream()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return endOfStreams > 0; });
    }

    std::function<bool(const CMediaType&)> accept;
    ALLOCATOR_PROPERTIES requirements{};
    std::atomic<int> refused{0};
    std::atomic<int> endOfStreams{0};
    std::atomic<int> beginFlushes{0};
    std::atomic<int> endFlushes{0};

private:
    void Record(IMediaSample* sample, bool typeChanged)
    {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        REFERENCE_TIME start = -1, end;
        sample->GetTime(&start, &end);
        {
            std::lock_guard lock(mutex_);
            received_.push_back({data, data ? data[0] : BYTE(0), start, typeChanged});
            if (hold_) {
                sample->AddRef();
                held_.push_back(sample);
            }
        }
        changed_.notify_all();
    }

    CCritSec lock_;
    InputPin* in_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> received_;
    std::vector<IMediaSample*> held_;
    std::atomic<bool> hold_{false};
};

// ---- copying transform: output = input, each byte plus one (so a copy is visible).

class PassThrough : public CTransformFilter {
public:
    PassThrough() : CTransformFilter("Pass Through", nullptr, CLSID_PassThrough) {}
    HRESULT CheckInputType(const CMediaType* mt) override { return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = m_pInput->CurrentMediaType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        ALLOCATOR_PROPERTIES upstream{};
        if (IMemAllocator* in = m_pInput->PeekAllocator()) in->GetProperties(&upstream);
        ALLOCATOR_PROPERTIES wanted{2, std::max<LONG>(upstream.cbBuffer, 1), 1, 0}, actual;
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override
    {
        BYTE *from = nullptr, *to = nullptr;
        in->GetPointer(&from);
        out->GetPointer(&to);
        LONG length = std::min(in->GetActualDataLength(), out->GetSize());
        for (LONG i = 0; i < length; ++i) to[i] = BYTE(from[i] + 1);
        out->SetActualDataLength(length);
        ++transformed;
        return dropEvery > 0 && transformed % dropEvery == 0 ? S_FALSE : S_OK;
    }
    HRESULT StartStreaming() override
    {
        ++starts;
        return S_OK;
    }
    HRESULT StopStreaming() override
    {
        ++stops;
        return S_OK;
    }

    std::atomic<int> transformed{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    int dropEvery = 0;
};
