#include "combase.h"

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_serverLocks{0};

// Serves one template entry.
class CClassFactory : public IClassFactory, public RefCounted {
public:
    explicit CClassFactory(const CFactoryTemplate* entry) : entry_(entry) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override
    {
        return CreateComObject(entry_->m_lpfnNew, outer, iid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        g_serverLocks.fetch_add(lock ? 1 : -1);
        return S_OK;
    }

private:
    const CFactoryTemplate* entry_;
};

}  // namespace

CBaseObject::CBaseObject(const char* name) : m_pName(name) { g_objects.fetch_add(1, std::memory_order_relaxed); }

CBaseObject::~CBaseObject() { g_objects.fetch_sub(1, std::memory_order_relaxed); }

LONG CBaseObject::ObjectsActive() { return g_objects.load(); }

CUnknown::CUnknown(const char* name, IUnknown* outer, HRESULT*)
    : CBaseObject(name), m_pUnknown(outer ? outer : &m_inner)
{
    m_inner.self = this;
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown) return GetInterface(&m_inner, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return ULONG(m_cRef.fetch_add(1) + 1); }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    LONG left = m_cRef.fetch_sub(1) - 1;
    if (left == 0) {
        // Guard against re-entry: a destructor that AddRefs and Releases this object.
        m_cRef.store(1);
        delete this;
    }
    return ULONG(left < 0 ? 0 : left);
}

HRESULT GetInterface(IUnknown* object, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = object;
    object->AddRef();
    return S_OK;
}

HRESULT CreateComObject(LPFNNewCOMObject create, IUnknown* outer, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && iid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* object = create(outer, &hr);
    if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(iid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT GetClassObjectFromTemplates(std::span<const CFactoryTemplate> templates, REFCLSID clsid, REFIID iid,
                                    void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    for (const CFactoryTemplate& entry : templates) {
        if (entry.m_ClsID && *entry.m_ClsID == clsid && entry.m_lpfnNew) {
            *ppv = static_cast<IClassFactory*>(new CClassFactory(&entry));
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadObjects() { return g_objects.load() == 0 && g_serverLocks.load() == 0 ? S_OK : S_FALSE; }
