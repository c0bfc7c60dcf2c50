#include "propertypage.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "../com/taskmem.h"

namespace {

struct PageAreas {
    std::mutex lock;
    std::unordered_map<HWND, void*> widgets;
};

PageAreas& Areas()
{
    static PageAreas areas;
    return areas;
}

LPOLESTR TaskMemString(const std::u16string& text)
{
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    return copy;
}

}  // namespace

HWND CreatePageAreaHandle(void* widget)
{
    // A message window reserves the number, so page areas and message windows never share one.
    HWND handle = CreateMessageWindow([](UINT, WPARAM, LPARAM) {});
    std::lock_guard guard(Areas().lock);
    Areas().widgets[handle] = widget;
    return handle;
}

void DestroyPageAreaHandle(HWND handle)
{
    {
        std::lock_guard guard(Areas().lock);
        if (Areas().widgets.erase(handle) == 0) return;
    }
    DestroyMessageWindow(handle);
}

void* PageAreaWidget(HWND handle)
{
    std::lock_guard guard(Areas().lock);
    auto found = Areas().widgets.find(handle);
    return found == Areas().widgets.end() ? nullptr : found->second;
}

CBasePropertyPage::CBasePropertyPage(const char* name, IUnknown* outer, std::u16string title, LONG width,
                                     LONG height)
    : CUnknown(name, outer), m_title(std::move(title)), m_size{width, height}
{
}

CBasePropertyPage::~CBasePropertyPage()
{
    if (m_pPageSite) m_pPageSite->Release();
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(iid, ppv);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site)
{
    if (site) {
        if (m_pPageSite) return E_UNEXPECTED;
        m_pPageSite = site;
        site->AddRef();
    } else {
        if (!m_pPageSite) return E_UNEXPECTED;
        m_pPageSite->Release();
        m_pPageSite = nullptr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT, BOOL)
{
    if (m_hwnd) return E_UNEXPECTED;
    if (!m_bObjectSet || !PageAreaWidget(parent)) return E_UNEXPECTED;
    m_hwnd = parent;
    HRESULT hr = OnActivate();
    if (FAILED(hr)) {
        OnDeactivate();
        m_hwnd = 0;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate()
{
    if (!m_hwnd) return E_UNEXPECTED;
    HRESULT hr = OnDeactivate();
    m_hwnd = 0;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info)
{
    if (!info) return E_POINTER;
    *info = {};
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = TaskMemString(m_title);
    if (!info->pszTitle) return E_OUTOFMEMORY;
    info->size = m_size;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects)
{
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        if (m_bObjectSet) return E_UNEXPECTED;  // one object at a time: disconnect first
        HRESULT hr = OnConnect(objects[0]);
        m_bObjectSet = SUCCEEDED(hr);
        return hr;
    }
    if (count == 0) {
        if (m_bObjectSet) OnDisconnect();
        m_bObjectSet = false;
        m_bDirty = false;
        return S_OK;
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT) { return m_hwnd ? S_OK : E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rect)
{
    if (!rect) return E_POINTER;
    return m_hwnd ? S_OK : E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply()
{
    if (!m_bObjectSet || !m_pPageSite) return E_UNEXPECTED;
    if (!m_bDirty) return S_OK;
    m_bDirty = false;
    return OnApplyChanges();
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*) { return S_FALSE; }

void CBasePropertyPage::SetDirty(bool dirty)
{
    if (dirty == m_bDirty) return;
    m_bDirty = dirty;
    if (m_pPageSite) m_pPageSite->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_CLEAN);
}
