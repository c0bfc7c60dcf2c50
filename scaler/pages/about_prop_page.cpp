#include "pages/about_prop_page.h"

#include <QLabel>
#include <QVBoxLayout>

CUnknown* CAboutPropPage::CreateInstance(IUnknown* outer, HRESULT*) { return new CAboutPropPage(outer); }

CAboutPropPage::CAboutPropPage(IUnknown* outer) : CBasePropertyPage("About page", outer, u"About", 300, 120) {}

HRESULT CAboutPropPage::OnActivate()
{
    auto* area = static_cast<QWidget*>(PageArea());
    m_root = new QWidget(area);
    QLayout* outer = area->layout() ? area->layout() : new QVBoxLayout(area);
    outer->addWidget(m_root);
    auto* layout = new QVBoxLayout(m_root);
    auto* name = new QLabel("Tolvane Video Scaler", m_root);
    name->setObjectName("FilterName");
    auto* version = new QLabel(QString("Version ") + SCALVO_VERSION, m_root);
    version->setObjectName("ModuleVersion");
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addStretch(1);
    return S_OK;
}

HRESULT CAboutPropPage::OnDeactivate()
{
    delete m_root;
    m_root = nullptr;
    return S_OK;
}
