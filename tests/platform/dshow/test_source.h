// A source filter for tests: one output pin that delivers `count` samples of `size` bytes,
// each filled with its index and stamped with the times a test asks for.
#pragma once

#include <cstring>
#include <functional>

#include "dshow/source.h"
#include "dshow/uuids.h"

constexpr GUID CLSID_TestSource = {0x1F5F0C71, 0x8E2B, 0x4E6A, {0x9C, 0x11, 0x2A, 0x44, 0x51, 0x0D, 0x6E, 0x01}};

class TestSourceStream : public CSourceStream {
public:
    using Stamp = std::function<void(int index, IMediaSample* sample)>;

    TestSourceStream(CSource* filter, CMediaType type, int count, LONG size, Stamp stamp)
        : CSourceStream("test stream", nullptr, filter, u"Out"), type_(std::move(type)), count_(count), size_(size),
          stamp_(std::move(stamp))
    {
    }

    HRESULT GetMediaType(CMediaType* mt) override
    {
        *mt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        ALLOCATOR_PROPERTIES wanted{3, size_, 1, 0}, actual;
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT OnThreadStartPlay() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (next_ >= count_) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memset(data, next_ & 0xFF, size_t(size_));
        sample->SetActualDataLength(size_);
        REFERENCE_TIME start = REFERENCE_TIME(next_) * 10000, end = start + 10000;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        if (stamp_) stamp_(next_, sample);
        ++next_;
        return S_OK;
    }

private:
    CMediaType type_;
    int count_;
    LONG size_;
    Stamp stamp_;
    int next_ = 0;
};

class TestSource : public CSource {
public:
    TestSource(CMediaType type, int count, LONG size, TestSourceStream::Stamp stamp = nullptr)
        : CSource("Test Source", nullptr, CLSID_TestSource)
    {
        new TestSourceStream(this, std::move(type), count, size, std::move(stamp));
    }
    // A reference-counted instance (CUnknown starts at 0).
    static ComPtr<IBaseFilter> Make(CMediaType type, int count, LONG size, TestSourceStream::Stamp stamp = nullptr)
    {
        auto* source = new TestSource(std::move(type), count, size, std::move(stamp));
        return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(source));
    }
};

inline CMediaType VideoType(const GUID& subtype, LONG width, LONG height, WORD bits, DWORD compression)
{
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = 333333;
    vih->bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, bits, compression, 0, 0, 0, 0, 0};
    vih->bmiHeader.biSizeImage = GetBitmapFrameSize(vih->bmiHeader);
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}
