// The exports of scalvo.ax: its class factories and its COM class registration.
#include <dlfcn.h>

#include "dshow/combase.h"
#include "filter/vs_filter.h"
#include "pages/about_prop_page.h"
#include "pages/main_prop_page.h"

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"Tolvane Video Scaler", &CLSID_TolvaneVideoScaler, CVS_Filter::CreateInstance},
    {u"About", &CLSID_ScalvoAboutPage, CAboutPropPage::CreateInstance},
    {u"Main", &CLSID_ScalvoMainPage, CMainPropPage::CreateInstance},
};

std::string LibraryPath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&LibraryPath), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

LSTATUS SetText(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

}  // namespace

VELTRO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    return GetClassObjectFromTemplates(g_Templates, clsid, iid, ppv);
}

VELTRO_EXPORT HRESULT DllCanUnloadNow() { return CanUnloadObjects(); }

// Registers the three classes as in-process servers with threading model "Both".
VELTRO_EXPORT HRESULT DllRegisterServer()
{
    const std::string path = LibraryPath();
    for (const CFactoryTemplate& entry : g_Templates) {
        const std::string key = "CLSID\\" + GuidToString(*entry.m_ClsID);
        HKEY classKey = nullptr, serverKey = nullptr;
        if (RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classKey,
                           nullptr) != ERROR_SUCCESS)
            return E_FAIL;
        LSTATUS status = SetText(classKey, nullptr, Utf8FromUtf16(entry.m_Name));
        if (status == ERROR_SUCCESS)
            status = RegCreateKeyEx(classKey, "InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &serverKey,
                                    nullptr);
        if (status == ERROR_SUCCESS) status = SetText(serverKey, nullptr, path);
        if (status == ERROR_SUCCESS) status = SetText(serverKey, "ThreadingModel", "Both");
        if (serverKey) RegCloseKey(serverKey);
        RegCloseKey(classKey);
        if (status != ERROR_SUCCESS) return E_FAIL;
    }
    return S_OK;
}

VELTRO_EXPORT HRESULT DllUnregisterServer()
{
    for (const CFactoryTemplate& entry : g_Templates)
        RegDeleteTree(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(*entry.m_ClsID)).c_str());
    return S_OK;
}
