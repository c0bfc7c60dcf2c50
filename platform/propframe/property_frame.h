// The property frame: the platform's OleCreatePropertyFrame, a modal Qt dialog that shows
// property pages (IPropertyPage objects) for one or more objects, one tab per page, with OK,
// Cancel and Apply. Main thread only; a QApplication must exist.
#pragma once

#include <string>

#include "dshow/olectl.h"

class QWidget;

// A modal dialog owned by `owner`, titled "<caption> Properties", with one tab per page class
// in the given order, titled by the pages. Pages are created from the built-in classes, else
// from the filter library that implements objects[0]. Apply (enabled while a page is dirty)
// and OK apply every dirty page; a failing apply is reported under the tabs and OK then keeps
// the frame open. S_OK once the frame was shown and closed, the first page's creation or
// SetObjects error otherwise (nothing shown). x, y: the frame's position in the owner
// (0, 0: centred over it).
HRESULT OleCreatePropertyFrame(QWidget* owner, UINT x, UINT y, const WCHAR* caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pageIds, LCID locale = 0,
                               DWORD reserved = 0, void* reserved2 = nullptr);

// Shows the pages `object` names through ISpecifyPropertyPages. E_NOINTERFACE when it has
// none. accepted (optional): true when the frame closed with OK.
HRESULT ShowPropertyPages(QWidget* owner, const std::u16string& caption, IUnknown* object, bool* accepted = nullptr);

// The frame as OleCreatePropertyFrame, telling whether it closed with OK.
HRESULT ShowPropertyFrame(QWidget* owner, UINT x, UINT y, const WCHAR* caption, ULONG objectCount,
                          IUnknown** objects, ULONG pageCount, const CLSID* pageIds, bool* accepted);
