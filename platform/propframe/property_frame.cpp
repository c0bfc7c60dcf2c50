#include "property_frame.h"

#include <dlfcn.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <mutex>
#include <vector>

#include "com/plugin.h"
#include "com/taskmem.h"
#include "devices/device_controls_page.h"

namespace {

// Where the page classes live that no library has to provide: the platform's own pages.
void RegisterPlatformPages()
{
    static std::once_flag once;
    std::call_once(once, [] { RegisterBuiltinClass(CLSID_DeviceControlsPage, CreateDeviceControlsPage); });
}

// The library whose code implements `object` (its interface table lies in it).
std::string LibraryOf(IUnknown* object)
{
    Dl_info info{};
    void* table = *reinterpret_cast<void**>(object);
    if (!dladdr(table, &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

HRESULT CreatePage(const CLSID& clsid, IUnknown* object, IPropertyPage** page)
{
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                  reinterpret_cast<void**>(page));
    if (hr != REGDB_E_CLASSNOTREG || !object) return hr;
    const std::string library = LibraryOf(object);
    if (library.empty() || !LoadClassObjectEntry(library)) return REGDB_E_CLASSNOTREG;
    return CreateInstanceFromLibrary(library, clsid, IID_IPropertyPage, reinterpret_cast<void**>(page));
}

class PropertyFrame;

// One per page: tells the frame when the page turns dirty or clean.
class PageSite final : public ComObject<IPropertyPageSite> {
public:
    explicit PageSite(PropertyFrame* frame) : frame_(frame) {}
    void Detach() { frame_ = nullptr; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override
    {
        if (!locale) return E_POINTER;
        *locale = 0x0409;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) override
    {
        if (container) *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    PropertyFrame* frame_;
};

struct FramePage {
    ComPtr<IPropertyPage> page;
    ComPtr<PageSite> site;
    QWidget* area = nullptr;
    HWND handle = 0;
    bool active = false;
};

class PropertyFrame final : public QDialog {
public:
    PropertyFrame(QWidget* owner, const QString& title) : QDialog(owner)
    {
        setWindowTitle(title);
        setObjectName("PropertyFrame");
        auto* layout = new QVBoxLayout(this);
        tabs_ = new QTabWidget(this);
        layout->addWidget(tabs_);
        status_ = new QLabel(this);
        status_->setObjectName("ApplyResult");
        layout->addWidget(status_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
        layout->addWidget(buttons);
        apply_ = buttons->button(QDialogButtonBox::Apply);
        apply_->setEnabled(false);
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            if (ApplyAll()) accept();
        });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(apply_, &QPushButton::clicked, this, [this] { ApplyAll(); });
        connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { ActivatePage(index); });
    }

    ~PropertyFrame() override { Close(); }

    // Takes a page that has its site and objects; adds its tab.
    void AddPage(ComPtr<IPropertyPage> page, ComPtr<PageSite> site)
    {
        PROPPAGEINFO info{};
        QString title = QString("Page %1").arg(pages_.size() + 1);
        if (SUCCEEDED(page->GetPageInfo(&info))) {
            if (info.pszTitle) title = QString::fromUtf16(info.pszTitle);
            CoTaskMemFree(info.pszTitle);
            CoTaskMemFree(info.pszDocString);
            CoTaskMemFree(info.pszHelpFile);
        }
        FramePage entry;
        entry.page = std::move(page);
        entry.site = std::move(site);
        entry.area = new QWidget;
        entry.area->setObjectName(title);
        entry.area->setMinimumSize(std::max(info.size.cx, LONG(0)), std::max(info.size.cy, LONG(0)));
        entry.handle = CreatePageAreaHandle(entry.area);
        pages_.push_back(std::move(entry));
        tabs_->blockSignals(true);
        tabs_->addTab(pages_.back().area, title);
        tabs_->blockSignals(false);
    }

    void StatusChanged()
    {
        bool dirty = false;
        for (FramePage& p : pages_) dirty = dirty || p.page->IsPageDirty() == S_OK;
        apply_->setEnabled(dirty);
    }

    void ActivatePage(int index)
    {
        if (index < 0 || size_t(index) >= pages_.size()) return;
        FramePage& p = pages_[size_t(index)];
        if (p.active) return;
        const QRect r = p.area->rect();
        RECT rect{0, 0, r.width(), r.height()};
        p.active = SUCCEEDED(p.page->Activate(p.handle, &rect, TRUE));
        if (p.active) p.page->Show(SW_SHOW);
    }

private:
    // Applies every dirty page in tab order; false when one of them failed.
    bool ApplyAll()
    {
        HRESULT result = S_OK;
        for (FramePage& p : pages_) {
            if (p.page->IsPageDirty() != S_OK) continue;
            HRESULT hr = p.page->Apply();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", unsigned(result));
        status_->setText(SUCCEEDED(result) ? QString("Changes applied")
                                           : QString("The changes were not accepted (error %1)").arg(code));
        StatusChanged();
        return SUCCEEDED(result);
    }

    void Close()
    {
        for (FramePage& p : pages_) {
            if (p.active) p.page->Deactivate();
            p.active = false;
            p.page->SetObjects(0, nullptr);
            p.page->SetPageSite(nullptr);
            p.site->Detach();
            DestroyPageAreaHandle(p.handle);
        }
        pages_.clear();
    }

    QTabWidget* tabs_;
    QLabel* status_;
    QPushButton* apply_;
    std::vector<FramePage> pages_;
};

HRESULT STDMETHODCALLTYPE PageSite::OnStatusChange(DWORD)
{
    if (frame_) frame_->StatusChanged();
    return S_OK;
}

}  // namespace

HRESULT ShowPropertyFrame(QWidget* owner, UINT x, UINT y, const WCHAR* caption, ULONG objectCount,
                          IUnknown** objects, ULONG pageCount, const CLSID* pageIds, bool* accepted)
{
    if (accepted) *accepted = false;
    if ((objectCount && !objects) || (pageCount && !pageIds)) return E_POINTER;
    RegisterPlatformPages();
    const QString title = QString::fromUtf16(caption ? caption : u"") + " Properties";
    PropertyFrame frame(owner, title.trimmed());
    for (ULONG i = 0; i < pageCount; ++i) {
        ComPtr<IPropertyPage> page;
        HRESULT hr = CreatePage(pageIds[i], objectCount ? objects[0] : nullptr, page.Put());
        if (FAILED(hr)) return hr;
        ComPtr<PageSite> site = ComPtr<PageSite>::Adopt(new PageSite(&frame));
        page->SetPageSite(site.Get());
        hr = page->SetObjects(objectCount, objects);
        if (FAILED(hr)) {
            page->SetPageSite(nullptr);
            site->Detach();
            return hr;
        }
        frame.AddPage(std::move(page), std::move(site));
    }
    frame.ActivatePage(0);
    frame.adjustSize();
    if (owner && (x || y)) frame.move(owner->mapToGlobal(QPoint(int(x), int(y))));
    const int result = frame.exec();
    if (accepted) *accepted = result == QDialog::Accepted;
    return S_OK;
}

HRESULT OleCreatePropertyFrame(QWidget* owner, UINT x, UINT y, const WCHAR* caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pageIds, LCID, DWORD, void*)
{
    return ShowPropertyFrame(owner, x, y, caption, objectCount, objects, pageCount, pageIds, nullptr);
}

HRESULT ShowPropertyPages(QWidget* owner, const std::u16string& caption, IUnknown* object, bool* accepted)
{
    if (accepted) *accepted = false;
    if (!object) return E_POINTER;
    ComPtr<ISpecifyPropertyPages> specify;
    HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid());
    if (FAILED(hr)) return E_NOINTERFACE;
    CAUUID pages{};
    hr = specify->GetPages(&pages);
    if (FAILED(hr)) return hr;
    if (pages.cElems == 0) hr = E_NOINTERFACE;
    else hr = ShowPropertyFrame(owner, 0, 0, caption.c_str(), 1, &object, pages.cElems, pages.pElems, accepted);
    CoTaskMemFree(pages.pElems);
    return hr;
}
