// The scaler's "Main" property page: shows what the filter knows about its input and edits
// every writable parameter. It talks to its object only through IModuleConfig and
// IParamConfig, so it works on any object that exposes them. Its controls are Qt widgets
// built inside the area the property frame gives it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dshow/propertypage.h"
#include "interfaces/module_config.h"
#include "pages/main_page_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

class CMainPropPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

private:
    explicit CMainPropPage(IUnknown* outer);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;

    HRESULT ReadSnapshot();
    void BuildControls(QWidget* area);
    QComboBox* ParameterList(const GUID& id, const char* objectName);
    QLineEdit* NumberEdit(const char* objectName, const char* accessibleName, bool allowDecimal);
    void ShowSnapshot();
    void SelectValue(QComboBox* list, const GUID& id, uint32_t value);
    // The page's reaction to any edit: enables, VBI list, dirty state.
    void OnCommand();
    void UpdateEnables();
    void RebuildVbiList();
    // The values the controls hold now, in the snapshot's terms.
    MainPageSnapshot ControlValues() const;
    uint32_t ListValue(QComboBox* list, const GUID& id) const;
    void ResolutionInControls(unsigned* width, unsigned* height) const;
    void AspectRatioInControls(double* width, double* height) const;

    ComPtr<IModuleConfig> m_config;
    bool m_active = false;
    bool m_showing = false;  // the page itself is filling its controls
    MainPageSnapshot m_snapshot;
    std::map<GUID, std::vector<std::string>> m_meanings;  // valid-value meanings per parameter

    QWidget* m_root = nullptr;
    QLabel* m_info[5] = {};
    QCheckBox *m_crop = nullptr, *m_resize = nullptr, *m_ar = nullptr, *m_colorConversion = nullptr;
    QLineEdit* m_cropEdits[4] = {};
    QComboBox *m_streamType = nullptr, *m_vbi = nullptr, *m_resolution = nullptr, *m_scalingMethod = nullptr;
    QLineEdit *m_width = nullptr, *m_height = nullptr;
    QComboBox *m_arPreset = nullptr, *m_arMethod = nullptr;
    QLineEdit *m_arWidth = nullptr, *m_arHeight = nullptr;
};
