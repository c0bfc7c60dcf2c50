// Null Renderer: accepts any stream and drops each sample as it arrives.
#include "../dshow/renbase.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"

namespace {

class CNullRenderer : public CBaseRenderer {
public:
    CNullRenderer(IUnknown* outer, HRESULT* phr) : CBaseRenderer(CLSID_NullRenderer, "Null Renderer", outer, phr) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
    bool ScheduleSamples() const override { return false; }
};

}  // namespace

CUnknown* CreateNullRenderer(IUnknown* outer, HRESULT* phr) { return new CNullRenderer(outer, phr); }
