// Tee: one input, as many outputs as get connected, each delivering every input sample.
#include "common/library_entry.h"
#include "common/pass_through.h"

namespace {

class CInfTee : public CPassThroughFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CInfTee(outer); }

private:
    explicit CInfTee(IUnknown* outer) : CPassThroughFilter("Inf Tee", outer, CLSID_KeshInfTee, true, nullptr) {}
};

const CFactoryTemplate g_Templates[] = {{u"Inf Tee", &CLSID_KeshInfTee, CInfTee::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
