// Just enough of a graph to run a capture filter in tests: a sink filter that records what
// arrives, an event sink standing in for the graph manager, the system clock, and helpers to
// reach a device through the system device enumerator.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "com/plugin.h"
#include "dshow/streams.h"

struct ReceivedSample {
    REFERENCE_TIME start, stop;
    std::vector<BYTE> data;
};

// Create with ComPtr<RecordingSink>(new RecordingSink): CUnknown objects start at 0 references.
class RecordingSink : public CBaseFilter {
public:
    RecordingSink() : CBaseFilter("Recording sink", nullptr, &lock_, GUID_NULL), pin_(this, &lock_) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* Pin() { return &pin_; }

    // Waits (up to 10 s) until `count` samples or the end of stream arrived.
    std::vector<ReceivedSample> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return samples_.size() >= count || ended_; });
        return samples_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        samples_.clear();
        ended_ = false;
    }
    bool WaitForEnd()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ended_; });
    }

private:
    class InputPin : public CBaseInputPin {
    public:
        InputPin(RecordingSink* sink, CCritSec* lock) : CBaseInputPin("Input", sink, lock, nullptr, u"In"), sink_(sink) {}
        HRESULT CheckMediaType(const CMediaType* mt) override { return mt->IsValid() ? S_OK : S_FALSE; }
        HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
        {
            HRESULT hr = CBaseInputPin::Receive(sample);
            if (hr != S_OK) return hr;
            ReceivedSample got{};
            sample->GetTime(&got.start, &got.stop);
            BYTE* data;
            sample->GetPointer(&data);
            got.data.assign(data, data + sample->GetActualDataLength());
            std::lock_guard<std::mutex> lock(sink_->mutex_);
            sink_->samples_.push_back(std::move(got));
            sink_->changed_.notify_all();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE EndOfStream() override
        {
            std::lock_guard<std::mutex> lock(sink_->mutex_);
            sink_->ended_ = true;
            sink_->changed_.notify_all();
            return S_OK;
        }

    private:
        RecordingSink* sink_;
    };

    CCritSec lock_;
    InputPin pin_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedSample> samples_;
    bool ended_ = false;
};

// Receives the filters' events as the graph manager would.
class EventRecorder : public ComObject<IMediaEventSink> {
public:
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({code, HRESULT(param1)});
        changed_.notify_all();
        return S_OK;
    }
    // The HRESULT of the first event `code` within 10 s, or S_OK when none came.
    HRESULT WaitFor(LONG code)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        HRESULT result = S_OK;
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            for (auto& [c, hr] : events_)
                if (c == code) return result = hr, true;
            return false;
        });
        return result;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<LONG, HRESULT>> events_;
};

// A graph of two filters, capture -> sink, on the system clock, without a graph manager.
class TwoFilterGraph : public ComObject<IFilterGraph> {
public:
    TwoFilterGraph() { events_ = ComPtr<EventRecorder>::Adopt(new EventRecorder); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IMediaEventSink) return events_->QueryInterface(iid, ppv);
        return ComObject<IFilterGraph>::QueryInterface(iid, ppv);
    }
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }

    EventRecorder* Events() { return events_.Get(); }

    HRESULT Build(IBaseFilter* capture, RecordingSink* sink)
    {
        capture_ = capture;
        sink_ = sink;
        HRESULT hr = capture->JoinFilterGraph(this, u"Capture");
        if (SUCCEEDED(hr)) hr = sink->JoinFilterGraph(this, u"Sink");
        if (SUCCEEDED(hr)) hr = CapturePin(capture)->Connect(sink->Pin(), nullptr);
        clock_ = ComPtr<IReferenceClock>(new CSystemClock);  // CUnknown objects start at 0 references
        capture->SetSyncSource(clock_.Get());
        sink->SetSyncSource(clock_.Get());
        return hr;
    }
    HRESULT Run()
    {
        REFERENCE_TIME now;
        clock_->GetTime(&now);
        HRESULT hr = sink_->Run(now);
        return SUCCEEDED(hr) ? capture_->Run(now) : hr;
    }
    void Stop()
    {
        capture_->Stop();
        sink_->Stop();
    }
    void TearDown()
    {
        Stop();
        ComPtr<IPin> out = CapturePin(capture_);
        out->Disconnect();
        sink_->Pin()->Disconnect();
        capture_->JoinFilterGraph(nullptr, nullptr);
        sink_->JoinFilterGraph(nullptr, nullptr);
    }

    static ComPtr<IPin> CapturePin(IBaseFilter* filter)
    {
        ComPtr<IEnumPins> pins;
        filter->EnumPins(pins.Put());
        ComPtr<IPin> pin;
        pins->Next(1, pin.Put(), nullptr);
        return pin;
    }

private:
    ComPtr<EventRecorder> events_;
    ComPtr<IReferenceClock> clock_;
    IBaseFilter* capture_ = nullptr;
    RecordingSink* sink_ = nullptr;
};

// capture -> sink on a graph of their own, running once Start succeeded.
struct CaptureRun {
    ComPtr<RecordingSink> sink = ComPtr<RecordingSink>(new RecordingSink);
    ComPtr<TwoFilterGraph> graph = ComPtr<TwoFilterGraph>::Adopt(new TwoFilterGraph);
    bool Start(IBaseFilter* capture) { return graph->Build(capture, sink.Get()) == S_OK && graph->Run() == S_OK; }
};

// Runs capture -> sink until `count` samples arrived (10 s at most) and takes the graph apart.
inline std::vector<ReceivedSample> CaptureSamples(IBaseFilter* capture, size_t count)
{
    auto sink = ComPtr<RecordingSink>(new RecordingSink);
    auto graph = ComPtr<TwoFilterGraph>::Adopt(new TwoFilterGraph);
    std::vector<ReceivedSample> samples;
    if (graph->Build(capture, sink.Get()) == S_OK && graph->Run() == S_OK) samples = sink->WaitFor(count);
    graph->TearDown();
    return samples;
}

// The friendly names of a category, in enumeration order, with their monikers.
inline std::vector<std::pair<std::string, ComPtr<IMoniker>>> ListCategory(REFCLSID category)
{
    std::vector<std::pair<std::string, ComPtr<IMoniker>>> list;
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                                devEnum.PutVoid())))
        return list;
    ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK) return list;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid());
        ScopedVariant name;
        bag->Read(u"FriendlyName", name.get(), nullptr);
        list.push_back({Utf8FromBstr(name->bstrVal), moniker});
    }
    return list;
}

inline ComPtr<IBaseFilter> BindDevice(REFCLSID category, const std::string& friendlyName, HRESULT* result = nullptr)
{
    ComPtr<IBaseFilter> filter;
    for (auto& [name, moniker] : ListCategory(category)) {
        if (name != friendlyName) continue;
        HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
        if (result) *result = hr;
        break;
    }
    return filter;
}

// Largest absolute 16-bit sample value in the samples.
inline int PeakOf(const std::vector<ReceivedSample>& samples)
{
    int peak = 0;
    for (const auto& s : samples)
        for (size_t i = 0; i + 1 < s.data.size(); i += 2)
            peak = std::max(peak, std::abs(int(int16_t(s.data[i] | (s.data[i + 1] << 8)))));
    return peak;
}

// Puts the virtual devices in place of real ones and points HOME and XDG_RUNTIME_DIR (where
// the devices' control file lives) at a new folder named /tmp/<prefix>-XXXXXX; returns it.
inline std::string UseVirtualDevicesIn(const std::string& prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::string dir = mkdtemp(pattern.data());
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
    return dir;
}
