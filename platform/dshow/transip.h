// CTransInPlaceFilter: a transform whose output type is its input type and which works on
// the sample it receives. The output pin hands the upstream allocator on downstream, so a
// chain of in-place filters passes one sample along without copying; only when the two
// sides end up with different allocators is the sample copied into an output buffer.
#pragma once

#include "transfrm.h"

class CTransInPlaceFilter : public CTransformFilter {
public:
    // modifiesData: Transform writes into the sample (a read-only upstream buffer is copied).
    CTransInPlaceFilter(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr = nullptr,
                        bool modifiesData = true);

    // Works on the sample in place: S_OK delivers it, S_FALSE drops it.
    virtual HRESULT Transform(IMediaSample* sample) = 0;

    // Defaults: the output type is the input type.
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    // Used only when the filter needs an allocator of its own: the input's sizes.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Receive(IMediaSample* sample) override;

    bool ModifiesData() const { return m_bModifiesData; }
    // True when input and output share one allocator (no copy).
    bool SharesAllocator() const;

protected:
    bool CreatePins() override;

private:
    HRESULT Copy(IMediaSample* source, IMediaSample** copy);
    using CTransformFilter::Transform;
    bool m_bModifiesData;
};
