// Property pages: the interfaces between a page object and the frame that shows it, in the
// Windows method order and with the Windows IIDs, so a page from any filter library fits any frame.
#pragma once

#include "strmif.h"
#include "../winmsg/winmsg.h"

using LCID = DWORD;

struct POINT {
    LONG x, y;
};
using LPCRECT = const RECT*;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct PROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle;  // CoTaskMemAlloc'd, freed by the frame
    SIZE size;          // the page's preferred size in pixels
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};

// IPropertyPageSite::OnStatusChange flags.
constexpr DWORD PROPPAGESTATUS_DIRTY = 0x01;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x02;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x04;

// IPropertyPage::Show commands.
constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOW = 5;

constexpr GUID IID_IPropertyPageSite = {0xB196B28C, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr GUID IID_IPropertyPage = {0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// The frame's side, one site per page.
struct IPropertyPageSite : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) = 0;
};
VELTRO_INTERFACE_ID(IPropertyPageSite, IID_IPropertyPageSite);

struct IPropertyPage : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) = 0;
    // parent: the page area the frame gives (see PageAreaWidget); the page builds its controls there.
    virtual HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) = 0;
    virtual HRESULT STDMETHODCALLTYPE Deactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) = 0;
    virtual HRESULT STDMETHODCALLTYPE Show(UINT cmdShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPageDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
    virtual HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) = 0;
};
VELTRO_INTERFACE_ID(IPropertyPage, IID_IPropertyPage);

// Page areas. The frame is built with a widget toolkit; a page area is one of its widgets,
// handed to pages as a window handle. A page that uses the same toolkit turns the handle back
// into the widget (a QWidget* for the Qt frame). Handles share the numbers of winmsg's windows.
HWND CreatePageAreaHandle(void* widget);
void DestroyPageAreaHandle(HWND handle);
// nullptr for a handle that is not a page area.
void* PageAreaWidget(HWND handle);
