// The scaler's "About" property page: the filter's name and the module's version.
#pragma once

#include "dshow/propertypage.h"

class QWidget;

class CAboutPropPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

private:
    explicit CAboutPropPage(IUnknown* outer);
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;

    QWidget* m_root = nullptr;
};
