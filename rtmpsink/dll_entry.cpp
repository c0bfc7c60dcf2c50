// The library's exports: the class factory for "Kesh RTMP Sink" and its COM registration.
#include <dlfcn.h>

#include <string>

#include "flv_mux.h"
#include "registry/registry.h"

namespace {

const CFactoryTemplate kTemplates[] = {
    {u"Kesh RTMP Sink", &CLSID_KeshRTMPSink, CFLVMux::CreateInstance},
};

std::string ClassKey() { return "CLSID\\" + GuidToString(CLSID_KeshRTMPSink); }

std::string LibraryPath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ClassKey), &info) || !info.dli_fname) return {};
    char resolved[4096];
    return realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
}

LSTATUS SetText(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
}

}  // namespace

VELTRO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    return GetClassObjectFromTemplates(kTemplates, clsid, iid, ppv);
}

VELTRO_EXPORT HRESULT DllCanUnloadNow() { return CanUnloadObjects(); }

VELTRO_EXPORT HRESULT DllRegisterServer()
{
    HKEY classKey = nullptr;
    HKEY serverKey = nullptr;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                       nullptr, &classKey, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    LSTATUS status = SetText(classKey, nullptr, "Kesh RTMP Sink");
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyEx(classKey, "InprocServer32", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                &serverKey, nullptr);
    if (status == ERROR_SUCCESS) status = SetText(serverKey, nullptr, LibraryPath());
    if (status == ERROR_SUCCESS) status = SetText(serverKey, "ThreadingModel", "Both");
    if (serverKey) RegCloseKey(serverKey);
    RegCloseKey(classKey);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

VELTRO_EXPORT HRESULT DllUnregisterServer()
{
    LSTATUS status = RegDeleteTree(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
}
