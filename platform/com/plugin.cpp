// Plug-in libraries by path and the table of built-in classes.
#include "plugin.h"

#include <dlfcn.h>

#include <mutex>
#include <unordered_map>

namespace {

struct LoadedLibraries {
    std::mutex lock;
    // Handles are kept for the life of the process: objects from a library may outlive
    // every reference to the library itself.
    std::unordered_map<std::string, DllGetClassObjectFn> entries;
};

LoadedLibraries& Libraries()
{
    static LoadedLibraries libraries;
    return libraries;
}

struct BuiltinClasses {
    std::mutex lock;
    std::unordered_map<CLSID, ClassCreator> creators;
};

BuiltinClasses& Builtins()
{
    static BuiltinClasses classes;
    return classes;
}

}  // namespace

DllGetClassObjectFn LoadClassObjectEntry(const std::string& path, std::string* error)
{
    LoadedLibraries& libraries = Libraries();
    std::lock_guard guard(libraries.lock);
    if (auto found = libraries.entries.find(path); found != libraries.entries.end()) return found->second;

    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        if (error) *error = dlerror();
        return nullptr;
    }
    dlerror();
    auto entry = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
    if (!entry) {
        if (error) *error = path + ": no DllGetClassObject export";
        return nullptr;
    }
    libraries.entries.emplace(path, entry);
    return entry;
}

HRESULT CreateInstanceFromLibrary(const std::string& path, REFCLSID clsid, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    DllGetClassObjectFn entry = LoadClassObjectEntry(path);
    if (!entry) return E_FAIL;
    ComPtr<IClassFactory> factory;
    HRESULT hr = entry(clsid, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    return factory->CreateInstance(nullptr, iid, ppv);
}

void RegisterBuiltinClass(REFCLSID clsid, ClassCreator create)
{
    BuiltinClasses& classes = Builtins();
    std::lock_guard guard(classes.lock);
    classes.creators[clsid] = create;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ClassCreator create = nullptr;
    {
        BuiltinClasses& classes = Builtins();
        std::lock_guard guard(classes.lock);
        if (auto found = classes.creators.find(clsid); found != classes.creators.end()) create = found->second;
    }
    if (!create || !(context & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;
    return create(outer, iid, ppv);
}
