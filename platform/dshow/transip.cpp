#include "transip.h"

#include <cstring>

namespace {

class CTransInPlaceInputPin : public CTransformInputPin {
public:
    CTransInPlaceInputPin(CTransInPlaceFilter* filter, HRESULT* phr)
        : CTransformInputPin("TransInPlace input pin", filter, phr, u"Input"), filter_(filter)
    {
    }

    // With the output connected, upstream writes straight into the downstream allocator.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override
    {
        if (!allocator) return E_POINTER;
        CAutoLock lock(m_pLock);
        auto* out = static_cast<CBaseOutputPin*>(filter_->GetPin(1));
        if (out && out->IsConnected() && out->InputPin()) return out->InputPin()->GetAllocator(allocator);
        return CTransformInputPin::GetAllocator(allocator);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        HRESULT hr = filter_->CheckInputType(mt);
        if (hr != S_OK) return hr;
        auto* out = filter_->GetPin(1);
        if (out && out->IsConnected()) return out->GetConnected()->QueryAccept(mt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

private:
    CTransInPlaceFilter* filter_;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
public:
    CTransInPlaceOutputPin(CTransInPlaceFilter* filter, HRESULT* phr)
        : CTransformOutputPin("TransInPlace output pin", filter, phr, u"Output"), filter_(filter)
    {
    }

    // Offers the upstream allocator downstream before making one of our own.
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override
    {
        auto* in = static_cast<CBaseInputPin*>(filter_->GetPin(0));
        IMemAllocator* upstream = in ? in->PeekAllocator() : nullptr;
        if (pin && upstream) {
            BOOL readOnly = in->IsReadOnly() && !filter_->ModifiesData();
            if (SUCCEEDED(pin->NotifyAllocator(upstream, readOnly))) {
                *allocator = upstream;
                upstream->AddRef();
                return S_OK;
            }
        }
        return CTransformOutputPin::DecideAllocator(pin, allocator);
    }

private:
    CTransInPlaceFilter* filter_;
};

}  // namespace

CTransInPlaceFilter::CTransInPlaceFilter(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT*,
                                         bool modifiesData)
    : CTransformFilter(name, outer, clsid), m_bModifiesData(modifiesData)
{
}

bool CTransInPlaceFilter::CreatePins()
{
    HRESULT hr = S_OK;
    m_pInput = new CTransInPlaceInputPin(this, &hr);
    m_pOutput = new CTransInPlaceOutputPin(this, &hr);
    return SUCCEEDED(hr);
}

HRESULT CTransInPlaceFilter::CheckTransform(const CMediaType* in, const CMediaType* out)
{
    return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTransInPlaceFilter::GetMediaType(int position, CMediaType* mt)
{
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = m_pInput->CurrentMediaType();
    return S_OK;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    ALLOCATOR_PROPERTIES wanted = *request;
    if (IMemAllocator* upstream = m_pInput ? m_pInput->PeekAllocator() : nullptr) upstream->GetProperties(&wanted);
    if (wanted.cbBuffer <= 0) wanted.cbBuffer = LONG(m_pInput->CurrentMediaType().GetSampleSize());
    if (wanted.cbBuffer <= 0) wanted.cbBuffer = 1 << 20;
    if (wanted.cBuffers <= 0) wanted.cBuffers = 2;
    if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

bool CTransInPlaceFilter::SharesAllocator() const
{
    return m_pInput && m_pOutput && m_pInput->PeekAllocator() == m_pOutput->Allocator() &&
           !(m_bModifiesData && m_pInput->IsReadOnly());
}

HRESULT CTransInPlaceFilter::Copy(IMediaSample* source, IMediaSample** copy)
{
    HRESULT hr = InitializeOutputSample(source, copy);
    if (FAILED(hr)) return hr;
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    source->GetPointer(&from);
    (*copy)->GetPointer(&to);
    LONG length = source->GetActualDataLength();
    if (length > (*copy)->GetSize()) {
        (*copy)->Release();
        *copy = nullptr;
        return VFW_E_BUFFER_OVERFLOW;
    }
    std::memcpy(to, from, size_t(length));
    (*copy)->SetActualDataLength(length);
    AM_MEDIA_TYPE* changed = nullptr;
    if (source->GetMediaType(&changed) == S_OK && changed) {
        (*copy)->SetMediaType(changed);
        DeleteMediaType(changed);
    }
    return S_OK;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample)
{
    if (SharesAllocator()) {
        HRESULT hr = Transform(sample);
        if (hr == S_OK) return m_pOutput->Deliver(sample);
        return hr == S_FALSE ? S_OK : hr;
    }
    IMediaSample* copy = nullptr;
    HRESULT hr = Copy(sample, &copy);
    if (FAILED(hr)) return hr;
    hr = Transform(copy);
    if (hr == S_OK) hr = m_pOutput->Deliver(copy);
    else if (hr == S_FALSE) hr = S_OK;
    copy->Release();
    return hr;
}
