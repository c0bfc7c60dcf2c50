#include "pass_through.h"

#include <string>

CPassThroughInputPin::CPassThroughInputPin(CPassThroughFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("pass-through input", filter, lock, phr, u"Input"), filter_(filter)
{
}

HRESULT CPassThroughInputPin::CheckMediaType(const CMediaType* mt)
{
    if (filter_->majorType_ && mt->majortype != *filter_->majorType_) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CPassThroughInputPin::Receive(IMediaSample* sample)
{
    CAutoLock hold(&receiveLock_);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (!filter_->Pass(sample)) return S_OK;
    return filter_->DeliverToOutputs(sample);
}

HRESULT CPassThroughInputPin::EndOfStream()
{
    CAutoLock hold(&receiveLock_);
    for (auto& out : filter_->outputs_)
        if (out->IsConnected()) out->DeliverEndOfStream();
    return S_OK;
}

HRESULT CPassThroughInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    for (auto& out : filter_->outputs_)
        if (out->IsConnected()) out->DeliverBeginFlush();
    return S_OK;
}

HRESULT CPassThroughInputPin::EndFlush()
{
    for (auto& out : filter_->outputs_)
        if (out->IsConnected()) out->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CPassThroughInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    for (auto& out : filter_->outputs_)
        if (out->IsConnected()) out->DeliverNewSegment(start, stop, rate);
    return S_OK;
}

CPassThroughOutputPin::CPassThroughOutputPin(CPassThroughFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin("pass-through output", filter, lock, phr, name), filter_(filter)
{
}

HRESULT CPassThroughOutputPin::CheckConnect(IPin* pin)
{
    // Outputs carry the input's type and buffers, so the input comes first.
    if (!filter_->InputConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CPassThroughOutputPin::CheckMediaType(const CMediaType* mt)
{
    if (!filter_->InputConnected()) return VFW_E_NOT_CONNECTED;
    return *mt == filter_->InputType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPassThroughOutputPin::GetMediaType(int position, CMediaType* mt)
{
    if (!filter_->InputConnected()) return VFW_E_NOT_CONNECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = filter_->InputType();
    return S_OK;
}

HRESULT CPassThroughOutputPin::CompleteConnect(IPin* receivePin)
{
    HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr) && filter_->growing_ && filter_->outputs_.back().get() == this) filter_->AddOutput();
    return hr;
}

HRESULT CPassThroughOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator)
{
    IMemAllocator* shared = filter_->input_->SharedAllocator();
    if (!shared) return VFW_E_NO_ALLOCATOR;
    HRESULT hr = pin->NotifyAllocator(shared, TRUE);
    if (FAILED(hr)) return hr;
    shared->AddRef();
    *allocator = shared;
    return S_OK;
}

CPassThroughFilter::CPassThroughFilter(const char* name, IUnknown* outer, REFCLSID clsid, bool growing,
                                       const GUID* majorType)
    : CBaseFilter(name, outer, &lock_, clsid), growing_(growing), majorType_(majorType)
{
    HRESULT hr = S_OK;
    input_ = std::make_unique<CPassThroughInputPin>(this, &lock_, &hr);
    AddOutput();
}

CPassThroughFilter::~CPassThroughFilter() = default;

void CPassThroughFilter::AddOutput()
{
    HRESULT hr = S_OK;
    const std::string name = "Output" + std::to_string(outputs_.size() + 1);
    const std::u16string wide(name.begin(), name.end());
    outputs_.push_back(std::make_unique<CPassThroughOutputPin>(this, &lock_, &hr, wide.c_str()));
    IncrementPinVersion();
}

int CPassThroughFilter::GetPinCount()
{
    CAutoLock hold(&lock_);
    return 1 + static_cast<int>(outputs_.size());
}

CBasePin* CPassThroughFilter::GetPin(int n)
{
    CAutoLock hold(&lock_);
    if (n == 0) return input_.get();
    if (n < 1 || n > static_cast<int>(outputs_.size())) return nullptr;
    return outputs_[n - 1].get();
}

HRESULT CPassThroughFilter::DeliverToOutputs(IMediaSample* sample)
{
    // One output refusing (a stopped renderer, say) must not starve the others.
    HRESULT result = S_OK;
    bool anyAccepted = false;
    for (auto& out : outputs_) {
        if (!out->IsConnected()) continue;
        const HRESULT hr = out->Deliver(sample);
        if (hr == S_OK) anyAccepted = true;
        else result = hr;
    }
    return anyAccepted ? S_OK : result;
}
