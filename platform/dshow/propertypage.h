// CBasePropertyPage: IPropertyPage for a page built with any widget toolkit. A page derives
// from it, gets its object in OnConnect, builds its controls in OnActivate inside PageArea(),
// tears them down in OnDeactivate, and writes its values in OnApplyChanges. It calls SetDirty
// whenever its controls differ from what the object holds.
#pragma once

#include <string>

#include "combase.h"
#include "olectl.h"

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    // title: the tab text; width/height: the preferred size of the page's controls.
    CBasePropertyPage(const char* name, IUnknown* outer, std::u16string title, LONG width, LONG height);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT cmdShow) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

protected:
    // The object the page edits (one at a time); a failure refuses SetObjects.
    virtual HRESULT OnConnect(IUnknown* object) { return S_OK; }
    virtual HRESULT OnDisconnect() { return S_OK; }
    // The controls are built and filled here, inside PageArea().
    virtual HRESULT OnActivate() { return S_OK; }
    virtual HRESULT OnDeactivate() { return S_OK; }
    // Writes the controls' values to the object; the result goes to the frame.
    virtual HRESULT OnApplyChanges() { return S_OK; }

    // Marks the page dirty (or clean) and tells the frame.
    void SetDirty(bool dirty);
    bool IsDirty() const { return m_bDirty; }
    // The toolkit widget of the area given to Activate (nullptr while not active).
    void* PageArea() const { return PageAreaWidget(m_hwnd); }

    HWND m_hwnd = 0;
    IPropertyPageSite* m_pPageSite = nullptr;
    bool m_bDirty = false;
    bool m_bObjectSet = false;

private:
    std::u16string m_title;
    SIZE m_size;
};
