#include "filter_loader.h"

#include "com/plugin.h"

void LoadFilterFromLibrary(const std::string& path, REFCLSID clsid, ComPtr<IBaseFilter>& slot)
{
    std::string error;
    DllGetClassObjectFn entry = LoadClassObjectEntry(path, &error);
    // A library that does not load leaves the slot; one without the export yields no filter.
    if (!entry && error.find("DllGetClassObject") == std::string::npos) return;
    ComPtr<IClassFactory> factory;
    if (entry) entry(clsid, IID_IClassFactory, factory.PutVoid());
    slot.Reset();
    if (factory) factory->CreateInstance(nullptr, IID_IBaseFilter, slot.PutVoid());
    if (!slot) throw FilterLoadError("Error: Failed to add filter: " + path);
}

std::string FilterLibraryPath(const std::string& appPath, const char* fileName)
{
    return appPath + "filters/" + fileName;
}
