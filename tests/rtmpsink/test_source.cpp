#include "test_source.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "../../interfaces/aux_filters.h"
#include "dshow/uuids.h"

namespace {

constexpr GUID CLSID_TestSource = {0x6A1D3C52, 0x1B7E, 0x4F09, {0x9E, 0x31, 0x52, 0x7C, 0x44, 0x0A, 0xB2, 0x11}};

// A pooled sample that also answers IEncoderSampleTimes.
class TimedSample : public CMediaSample, public IEncoderSampleTimes {
public:
    using CMediaSample::CMediaSample;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IEncoderSampleTimes) {
            *ppv = static_cast<IEncoderSampleTimes*>(this);
            AddRef();
            return S_OK;
        }
        return CMediaSample::QueryInterface(iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CMediaSample::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return CMediaSample::Release(); }
    HRESULT STDMETHODCALLTYPE GetSampleFlags(DWORD* flags) override
    {
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSampleTimes(REFERENCE_TIME* presentation, REFERENCE_TIME* decoding,
                                             REFERENCE_TIME* third) override
    {
        *presentation = presentation_;
        *decoding = decoding_;
        *third = 0;
        return S_OK;
    }
    REFERENCE_TIME presentation_ = 0;
    REFERENCE_TIME decoding_ = 0;
};

class TimedAllocator : public CMemAllocator {
public:
    TimedAllocator() : CMemAllocator("TimedAllocator") {}

protected:
    CMediaSample* CreateSample(BYTE* buffer, LONG length, HRESULT* phr) override
    {
        return new TimedSample("TimedSample", this, phr, buffer, length);
    }
};

class UnitStream : public CSourceStream {
public:
    UnitStream(CSource* filter, const std::vector<EncodedUnit>* units, const CMediaType& type, LPCWSTR name,
               bool paced)
        : CSourceStream("UnitStream", &hr_, filter, name), units_(units), type_(type), paced_(paced)
    {
    }

    HRESULT GetMediaType(CMediaType* mt) override
    {
        *mt = type_;
        return S_OK;
    }

    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override
    {
        auto* timed = new TimedAllocator;
        timed->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
        ALLOCATOR_PROPERTIES props{};
        HRESULT hr = DecideBufferSize(*allocator, &props);
        if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*allocator, FALSE);
        if (FAILED(hr)) {
            (*allocator)->Release();
            *allocator = nullptr;
        }
        return hr;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        size_t largest = 1;
        for (const EncodedUnit& unit : *units_) largest = std::max(largest, unit.data.size());
        ALLOCATOR_PROPERTIES wanted{4, LONG(largest), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (next_ >= units_->size()) {
            finished_ = true;
            return S_FALSE;
        }
        const EncodedUnit& unit = (*units_)[next_++];
        if (paced_) {
            if (next_ == 1) began_ = std::chrono::steady_clock::now();
            std::this_thread::sleep_until(began_ + std::chrono::microseconds(unit.start / 10));
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, unit.data.data(), unit.data.size());
        sample->SetActualDataLength(LONG(unit.data.size()));
        REFERENCE_TIME start = unit.start, stop = unit.stop;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(unit.syncPoint);
        auto* timed = static_cast<TimedSample*>(static_cast<CMediaSample*>(sample));
        timed->presentation_ = unit.presentation;
        timed->decoding_ = unit.decoding;
        return S_OK;
    }

    std::atomic<bool> finished_{false};

private:
    HRESULT hr_ = S_OK;
    const std::vector<EncodedUnit>* units_;
    CMediaType type_;
    size_t next_ = 0;
    bool paced_;
    std::chrono::steady_clock::time_point began_;
};

}  // namespace

TestSource::TestSource(const std::vector<EncodedUnit>* video, const CMediaType& videoType,
                       const std::vector<EncodedUnit>* audio, const CMediaType& audioType, bool paced)
    : CSource("TestSource", nullptr, CLSID_TestSource)
{
    if (video && !video->empty()) videoPin_ = new UnitStream(this, video, videoType, u"Video", paced);
    if (audio && !audio->empty()) audioPin_ = new UnitStream(this, audio, audioType, u"Audio", paced);
}

bool TestSource::Finished() const
{
    for (CSourceStream* stream : m_paStreams)
        if (!static_cast<UnitStream*>(stream)->finished_) return false;
    return true;
}
