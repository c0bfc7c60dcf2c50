// Shows property pages in tests without a display: the offscreen Qt platform, a page site that
// counts status changes, and a page hosted in a plain widget the way the frame hosts it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "dshow/olectl.h"

// fontconfig keeps its configuration for the life of the process, which LeakSanitizer reports.
// (This header is included by one file of each test program.)
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

inline QApplication& TestApplication()
{
    static int argc = 1;
    static char name[] = "pages-test";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: at exit Qt's own statics may already be gone.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class CountingSite final : public ComObject<IPropertyPageSite> {
public:
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override
    {
        if (flags & PROPPAGESTATUS_DIRTY) ++dirtyCalls;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override { return *locale = 0x0409, S_OK; }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }
    int dirtyCalls = 0;
};

// One page, given its object, activated in its own area widget.
class HostedPage {
public:
    // Returns SetObjects' result; the page is active only when that and Activate succeed.
    HRESULT Open(IPropertyPage* page, IUnknown* object)
    {
        TestApplication();
        page_ = page;
        site_ = ComPtr<CountingSite>::Adopt(new CountingSite);
        page_->SetPageSite(site_.Get());
        HRESULT hr = page_->SetObjects(1, &object);
        if (FAILED(hr)) return hr;
        area_ = new QWidget;
        area_->resize(640, 480);
        handle_ = CreatePageAreaHandle(area_);
        RECT rect{0, 0, 640, 480};
        return page_->Activate(handle_, &rect, TRUE);
    }
    ~HostedPage()
    {
        if (!page_) return;
        if (area_) page_->Deactivate();
        page_->SetObjects(0, nullptr);
        page_->SetPageSite(nullptr);
        DestroyPageAreaHandle(handle_);
        delete area_;
    }
    template <class T>
    T* Find(const char* name) const
    {
        return area_ ? area_->findChild<T*>(name) : nullptr;
    }
    CountingSite* Site() const { return site_.Get(); }
    HRESULT Apply() { return page_->Apply(); }
    HRESULT Dirty() { return page_->IsPageDirty(); }

private:
    ComPtr<IPropertyPage> page_;
    ComPtr<CountingSite> site_;
    QWidget* area_ = nullptr;
    HWND handle_ = 0;
};

// Types into an edit key by key, as a user does (each keystroke passes the edit's filter or not).
inline void Type(QLineEdit* edit, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

// Runs `drive` on the frame once it is shown (inside its modal loop).
inline void WhenFrameShows(std::function<void(QDialog*)> drive)
{
    QTimer::singleShot(0, [drive] { drive(qobject_cast<QDialog*>(QApplication::activeModalWidget())); });
}

inline void PressFrameButton(QDialog* frame, QDialogButtonBox::StandardButton which)
{
    frame->findChild<QDialogButtonBox*>()->button(which)->click();
}
