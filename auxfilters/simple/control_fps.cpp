// Frame-rate limiter: passes every frame, or every second one when asked to halve the rate.
// Passed frames keep their times, so a halved stream simply has gaps of two frame periods.
#include <atomic>

#include "common/library_entry.h"
#include "common/pass_through.h"

namespace {

class CControlFps : public CPassThroughFilter, public IControlFps {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CControlFps(outer); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IControlFps) return GetInterface(static_cast<IControlFps*>(this), ppv);
        return CPassThroughFilter::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetHalfFrameRate(BOOL half) override
    {
        half_ = half != FALSE;
        return S_OK;
    }

    bool Pass(IMediaSample*) override
    {
        const bool even = (count_++ % 2) == 0;
        return !half_ || even;
    }

private:
    explicit CControlFps(IUnknown* outer)
        : CPassThroughFilter("Control fps", outer, CLSID_KeshControlFps, false, &MEDIATYPE_Video)
    {
    }
    std::atomic<bool> half_{false};
    uint64_t count_ = 0;  // streaming thread only
};

const CFactoryTemplate g_Templates[] = {{u"Control fps", &CLSID_KeshControlFps, CControlFps::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
