// A plug-in library with one class, served through DllGetClassObject.
#include <new>

#include "test_plugin.h"

namespace {

class Counter final : public ComObject<ITestCounter> {
public:
    LONG STDMETHODCALLTYPE Increment() override { return ++count_; }

private:
    LONG count_ = 0;
};

class CounterFactory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<Counter> counter = ComPtr<Counter>::Adopt(new (std::nothrow) Counter);
        if (!counter) return E_OUTOFMEMORY;
        return counter->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

VELTRO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_TestCounter) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<CounterFactory> factory = ComPtr<CounterFactory>::Adopt(new (std::nothrow) CounterFactory);
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}
