#include "graph_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "aux_filters.h"
#include "com/plugin.h"
#include "com/stream.h"
#include "common/audio_types.h"
#include "dshow/refclock.h"

ComPtr<IBaseFilter> LoadFilter(const std::string& fileName, REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    CreateInstanceFromLibrary(std::string(VELTRO_BIN_DIR) + "/filters/" + fileName, clsid, IID_IBaseFilter,
                              filter.PutVoid());
    return filter;
}

IPin* PinAt(IBaseFilter* filter, int index)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Put());
    IPin* pin = nullptr;
    pins->Skip(static_cast<ULONG>(index));
    if (pins->Next(1, &pin, nullptr) != S_OK) return nullptr;
    pin->Release();
    return pin;
}

namespace {

// Connected pins hold each other's filters, so filters connected without a graph are never
// freed; each test's connections are broken when it ends, as a graph does when released.
class ConnectionBreaker : public testing::EmptyTestEventListener {
public:
    static ConnectionBreaker& Instance()
    {
        static ConnectionBreaker* breaker = [] {
            auto* created = new ConnectionBreaker;
            testing::UnitTest::GetInstance()->listeners().Append(created);
            return created;
        }();
        return *breaker;
    }
    void Remember(IPin* out, IPin* in) { connections_.emplace_back(out, in); }
    void OnTestEnd(const testing::TestInfo&) override
    {
        for (auto& [out, in] : connections_) {
            out->Disconnect();
            in->Disconnect();
        }
        connections_.clear();
    }

private:
    std::vector<std::pair<ComPtr<IPin>, ComPtr<IPin>>> connections_;
};

}  // namespace

HRESULT ConnectPins(IPin* out, IPin* in)
{
    HRESULT hr = out->Connect(in, nullptr);
    if (SUCCEEDED(hr)) ConnectionBreaker::Instance().Remember(out, in);
    return hr;
}

void RunAll(const std::vector<IBaseFilter*>& filters)
{
    for (auto* f : filters) f->Pause();
    for (auto* f : filters) f->Run(0);
}

void RunAllOnClock(const std::vector<IBaseFilter*>& filters)
{
    ComPtr<IReferenceClock> clock;
    CSystemClock::CreateInstance(nullptr, nullptr)->NonDelegatingQueryInterface(IID_IReferenceClock, clock.PutVoid());
    for (auto* f : filters) f->SetSyncSource(clock.Get());
    for (auto* f : filters) f->Pause();
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    for (auto* f : filters) f->Run(now);
}

void StopAll(const std::vector<IBaseFilter*>& filters)
{
    for (auto* f : filters) f->Stop();
}

namespace {

class SourcePin : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock, const CMediaType& type, LONG size)
        : CBaseOutputPin("test source", filter, lock, nullptr, u"Out"), type_(type), size_(size)
    {
    }
    HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        *mt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = std::max<LONG>(request->cBuffers, 4);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, size_);
        request->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }

private:
    CMediaType type_;
    LONG size_;
};

class SourceFilter : public CBaseFilter {
public:
    SourceFilter(const CMediaType& type, LONG size) : CBaseFilter("test source", nullptr, &lock_, GUID_NULL)
    {
        pin_ = std::make_unique<SourcePin>(this, &lock_, type, size);
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
    CCritSec lock_;
    std::unique_ptr<SourcePin> pin_;
};

class SinkFilter;

// Positioned writes into the sink's file in any state, for upstream filters that ask the pin
// for IStream. Its references are the pin's. Once its filter stopped it writes slowly, as a
// disk may while the file is closed, so that what comes upstream meanwhile meets the stop.
class PositionedStream : public IStream {
public:
    PositionedStream(IPin* pin, CBaseFilter* filter, const int* fd) : pin_(pin), filter_(filter), fd_(fd) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid != IID_IStream && iid != IID_ISequentialStream) return pin_->QueryInterface(iid, ppv);
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override
    {
        if (filter_->IsStopped()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const ssize_t n = pwrite(*fd_, data, size, position_);
        if (n < 0) return E_FAIL;
        position_ += n;
        if (written) *written = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override
    {
        if (origin != STREAM_SEEK_SET) return E_NOTIMPL;
        position_ = move.QuadPart;
        if (at) at->QuadPart = static_cast<uint64_t>(position_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    IPin* pin_;
    CBaseFilter* filter_;
    const int* fd_;
    off_t position_ = 0;
};

class SinkPin : public CBaseInputPin {
public:
    SinkPin(CBaseFilter* filter, CCritSec* lock, const std::string& file, bool offersStream)
        : CBaseInputPin("test sink", filter, lock, nullptr, u"In"), stream_(this, filter, &fd_), offersStream_(offersStream)
    {
        if (!file.empty()) fd_ = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (offersStream_ && fd_ >= 0 && iid == IID_IStream) return GetInterface(static_cast<IStream*>(&stream_), ppv);
        return CBaseInputPin::NonDelegatingQueryInterface(iid, ppv);
    }
    ~SinkPin() override
    {
        if (fd_ >= 0) close(fd_);
    }
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        RecordedSample r;
        r.identity = sample;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        r.bytes.assign(data, data + sample->GetActualDataLength());
        sample->GetTime(&r.start, &r.stop);
        r.sync = sample->IsSyncPoint() == S_OK;
        IEncoderSampleTimes* times = nullptr;
        if (SUCCEEDED(sample->QueryInterface(IID_IEncoderSampleTimes, reinterpret_cast<void**>(&times)))) {
            r.hasEncoderTimes = true;
            times->GetSampleTimes(&r.presentation, &r.decoding, nullptr);
            times->Release();
        }
        if (fd_ >= 0) pwrite(fd_, r.bytes.data(), r.bytes.size(), r.start);
        std::lock_guard<std::mutex> hold(mutex_);
        samples_.push_back(std::move(r));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        ended_ = true;
        return S_OK;
    }
    std::mutex mutex_;
    std::vector<RecordedSample> samples_;
    std::atomic<bool> ended_{false};
    int fd_ = -1;
    PositionedStream stream_;
    const bool offersStream_;
};

class SinkFilter : public CBaseFilter {
public:
    SinkFilter(const std::string& file, bool offersStream) : CBaseFilter("test sink", nullptr, &lock_, GUID_NULL)
    {
        pin_ = std::make_unique<SinkPin>(this, &lock_, file, offersStream);
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
    CCritSec lock_;
    std::unique_ptr<SinkPin> pin_;
};

}  // namespace

struct TestSource::Impl {
    ComPtr<IBaseFilter> filter;
    SourceFilter* raw;
};

TestSource::TestSource(const CMediaType& type, LONG bufferSize) : impl_(new Impl)
{
    impl_->raw = new SourceFilter(type, bufferSize);
    impl_->raw->NonDelegatingQueryInterface(IID_IBaseFilter, impl_->filter.PutVoid());
}
TestSource::~TestSource() { delete impl_; }
IBaseFilter* TestSource::Filter() { return impl_->filter.Get(); }
IPin* TestSource::Output() { return impl_->raw->pin_.get(); }

HRESULT TestSource::Push(const std::vector<uint8_t>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop,
                         const CMediaType* type)
{
    IMediaSample* sample = nullptr;
    HRESULT hr = impl_->raw->pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::copy(bytes.begin(), bytes.end(), data);
    sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    if (type) sample->SetMediaType(const_cast<CMediaType*>(type));
    hr = impl_->raw->pin_->Deliver(sample);
    sample->Release();
    return hr;
}

void TestSource::EndOfStream() { impl_->raw->pin_->DeliverEndOfStream(); }

struct TestSink::Impl {
    ComPtr<IBaseFilter> filter;
    SinkFilter* raw;
};

TestSink::TestSink(const std::string& positionedFile, bool offersStream) : impl_(new Impl)
{
    impl_->raw = new SinkFilter(positionedFile, offersStream);
    impl_->raw->NonDelegatingQueryInterface(IID_IBaseFilter, impl_->filter.PutVoid());
}
TestSink::~TestSink() { delete impl_; }
IBaseFilter* TestSink::Filter() { return impl_->filter.Get(); }
IPin* TestSink::Input() { return impl_->raw->pin_.get(); }
const CMediaType& TestSink::Type() { return impl_->raw->pin_->CurrentMediaType(); }
bool TestSink::Ended() { return impl_->raw->pin_->ended_; }
std::vector<RecordedSample> TestSink::Samples()
{
    std::lock_guard<std::mutex> hold(impl_->raw->pin_->mutex_);
    return impl_->raw->pin_->samples_;
}

CMediaType Yuy2Type(int width, int height, REFERENCE_TIME frameDuration, DWORD arX, DWORD arY)
{
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YUY2);
    mt.SetFormatType(&FORMAT_VideoInfo2);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    vih->AvgTimePerFrame = frameDuration;
    vih->dwPictAspectRatioX = arX;
    vih->dwPictAspectRatioY = arY;
    vih->bmiHeader = {40, width, height, 1, 16, MakeFourCC('Y', 'U', 'Y', '2'), DWORD(width * height * 2)};
    mt.SetSampleSize(width * height * 2);
    return mt;
}

std::vector<uint8_t> Yuy2Frame(int width, int height, int index)
{
    std::vector<uint8_t> frame(size_t(width) * height * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i % 4 == 1 || i % 4 == 3 ? 128 : (i / 2 + index * 5) % 220 + 16);
    return frame;
}

std::vector<uint8_t> StereoPcm(int frames, int16_t left, int16_t right)
{
    std::vector<uint8_t> bytes(size_t(frames) * 4);
    auto* s = reinterpret_cast<int16_t*>(bytes.data());
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = left;
        s[2 * i + 1] = right;
    }
    return bytes;
}

CMediaType PcmType(DWORD rate, WORD channels)
{
    CMediaType mt;
    SetPcm16Type(&mt, rate, channels);
    return mt;
}
