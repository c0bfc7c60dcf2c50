// A filter that hands each input sample, unchanged and uncopied, to its outputs: the outputs
// deliver the very sample object upstream filled, from the allocator the input was given.
// The tee grows a new output for every connection; the frame-rate limiter has one output
// and a gate that decides which samples pass.
#pragma once

#include <memory>
#include <vector>

#include "dshow/amfilter.h"

class CPassThroughFilter;

class CPassThroughInputPin : public CBaseInputPin {
public:
    CPassThroughInputPin(CPassThroughFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    IMemAllocator* SharedAllocator() const { return m_pAllocator; }

private:
    CPassThroughFilter* filter_;
    CCritSec receiveLock_;
};

class CPassThroughOutputPin : public CBaseOutputPin {
public:
    CPassThroughOutputPin(CPassThroughFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // The input's allocator, read-only: no copy, and the buffers stay upstream's to commit.
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override { return S_OK; }
    HRESULT Active() override { return S_OK; }
    HRESULT Inactive() override { return S_OK; }

private:
    CPassThroughFilter* filter_;
};

class CPassThroughFilter : public CBaseFilter {
public:
    // growing: a new output appears whenever the last free one gets connected.
    CPassThroughFilter(const char* name, IUnknown* outer, REFCLSID clsid, bool growing, const GUID* majorType);
    ~CPassThroughFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // Whether this sample goes on; the default passes everything.
    virtual bool Pass(IMediaSample* sample) { return true; }

protected:
    friend class CPassThroughInputPin;
    friend class CPassThroughOutputPin;
    HRESULT DeliverToOutputs(IMediaSample* sample);
    void AddOutput();
    CMediaType& InputType() { return input_->CurrentMediaType(); }
    bool InputConnected() const { return input_->IsConnected(); }

    CCritSec lock_;
    std::unique_ptr<CPassThroughInputPin> input_;
    std::vector<std::unique_ptr<CPassThroughOutputPin>> outputs_;
    const bool growing_;
    const GUID* majorType_;  // nullptr: any
};
