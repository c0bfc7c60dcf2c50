// COM object bases of the streaming classes: CBaseObject, CUnknown with a non-delegating
// IUnknown (so that objects can be aggregated), and the class-factory table that makes a
// filter library's DllGetClassObject a few lines:
//
//   static const CFactoryTemplate g_Templates[] = {
//       {u"Kesh RTMP Sink", &CLSID_KeshRTMPSink, CFLVMux::CreateInstance},
//   };
//   VELTRO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
//   {
//       return GetClassObjectFromTemplates(g_Templates, clsid, iid, ppv);
//   }
//   VELTRO_EXPORT HRESULT DllCanUnloadNow() { return CanUnloadObjects(); }
#pragma once

#include <atomic>
#include <span>

#include "../com/unknown.h"

// Counts live objects of the library (DllCanUnloadNow).
class CBaseObject {
public:
    explicit CBaseObject(const char* name);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    static LONG ObjectsActive();

protected:
    const char* m_pName;
};

struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Reference count starts at 0: the creator's first QueryInterface takes the first reference.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const char* name, IUnknown* outer, HRESULT* phr = nullptr);
    ~CUnknown() override = default;

    // The controlling unknown: the outer object when aggregated, our own IUnknown otherwise.
    IUnknown* GetOwner() const { return m_pUnknown; }
    // The IUnknown whose methods are the non-delegating ones (what an aggregating outer keeps).
    IUnknown* GetNonDelegatingUnknown() { return &m_inner; }

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

protected:
    std::atomic<LONG> m_cRef{0};

private:
    struct Inner : IUnknown {
        CUnknown* self;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
        {
            return self->NonDelegatingQueryInterface(iid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return self->NonDelegatingRelease(); }
    } m_inner;
    IUnknown* const m_pUnknown;
};

// Hands out `object` (already cast to the interface) with a reference.
HRESULT GetInterface(IUnknown* object, void** ppv);

// Declares the IUnknown methods of a CUnknown-derived class: they go to the owner.
#define DECLARE_IUNKNOWN                                                                   \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override            \
    {                                                                                      \
        return GetOwner()->QueryInterface(riid, ppv);                                      \
    }                                                                                      \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }             \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

// Class factory table entries. The create function returns the object with no reference
// taken (reference count 0) or nullptr with *phr set.
using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* clsid);
struct AMOVIESETUP_FILTER;

struct CFactoryTemplate {
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit = nullptr;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter = nullptr;
};

// Creates the object through `create` and asks it for iid (aggregation needs IID_IUnknown).
HRESULT CreateComObject(LPFNNewCOMObject create, IUnknown* outer, REFIID iid, void** ppv);
// A class factory for the template entry of clsid, or CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObjectFromTemplates(std::span<const CFactoryTemplate> templates, REFCLSID clsid, REFIID iid,
                                    void** ppv);
// S_OK when no object of this library is alive and no factory is locked, S_FALSE otherwise.
HRESULT CanUnloadObjects();

// For RegisterBuiltinClass: CreateBuiltin<CNullRenderer::CreateInstance>.
template <LPFNNewCOMObject Create>
HRESULT CreateBuiltin(IUnknown* outer, REFIID iid, void** ppv)
{
    return CreateComObject(Create, outer, iid, ppv);
}
