#include "owned_sample.h"

COwnedSample* COwnedSample::Create(std::vector<uint8_t> bytes)
{
    auto* sample = new COwnedSample(std::move(bytes));
    sample->AddRef();
    return sample;
}

COwnedSample::COwnedSample(std::vector<uint8_t> bytes)
    : CMediaSample("owned sample", nullptr, nullptr), bytes_(std::move(bytes))
{
    SetPointer(bytes_.data(), static_cast<LONG>(bytes_.size()));
    SetActualDataLength(static_cast<LONG>(bytes_.size()));
}

HRESULT COwnedSample::QueryInterface(REFIID iid, void** ppv)
{
    if (ppv && iid == IID_IEncoderSampleTimes) {
        *ppv = static_cast<IEncoderSampleTimes*>(this);
        AddRef();
        return S_OK;
    }
    return CMediaSample::QueryInterface(iid, ppv);
}

ULONG COwnedSample::AddRef() { return ++m_cRef; }

ULONG COwnedSample::Release()
{
    const LONG left = --m_cRef;
    if (left == 0) delete this;  // no pool to return to
    return left;
}

void COwnedSample::SetEncoderTimes(REFERENCE_TIME presentation, REFERENCE_TIME decoding)
{
    presentation_ = presentation;
    decoding_ = decoding;
}

HRESULT COwnedSample::GetSampleFlags(DWORD* flags)
{
    if (!flags) return E_POINTER;
    *flags = IsSyncPoint() == S_OK ? 1 : 0;
    return S_OK;
}

HRESULT COwnedSample::GetSampleTimes(REFERENCE_TIME* presentation, REFERENCE_TIME* decoding, REFERENCE_TIME* reserved)
{
    if (presentation) *presentation = presentation_;
    if (decoding) *decoding = decoding_;
    if (reserved) *reserved = 0;
    return S_OK;
}
