#include "pages/main_prop_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The keystroke filter of a number edit: a keystroke that makes the text unacceptable is undone.
class NumberValidator final : public QValidator {
public:
    NumberValidator(bool allowDecimal, QObject* parent) : QValidator(parent), allowDecimal_(allowDecimal) {}
    State validate(QString& text, int&) const override
    {
        return AcceptableNumberText(text.toStdString(), allowDecimal_) ? Acceptable : Invalid;
    }

private:
    bool allowDecimal_;
};

HRESULT ReadNumber(IModuleConfig* config, const GUID& id, double* out)
{
    VARIANT v, r8;
    VariantInit(&v);
    VariantInit(&r8);
    HRESULT hr = config->GetValue(&id, &v);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&r8, &v, 0, VT_R8);
    if (SUCCEEDED(hr)) *out = r8.dblVal;
    VariantClear(&v);
    return hr;
}

// Sets one pending value; the first failure is kept in *first.
void Send(IModuleConfig* config, const GUID& id, VARIANT& v, HRESULT* first)
{
    HRESULT hr = config->SetValue(&id, &v);
    if (FAILED(hr) && SUCCEEDED(*first)) *first = hr;
}

void SendUint(IModuleConfig* config, const GUID& id, uint32_t value, HRESULT* first)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UINT;
    v.uintVal = value;
    Send(config, id, v, first);
}

void SendBool(IModuleConfig* config, const GUID& id, bool on, HRESULT* first)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = on ? 1 : 0;
    Send(config, id, v, first);
}

void SendUi2(IModuleConfig* config, const GUID& id, double value, HRESULT* first)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI2;
    v.uiVal = uint16_t(std::clamp(value, 0.0, 65535.0));
    Send(config, id, v, first);
}

void SendR8(IModuleConfig* config, const GUID& id, double value, HRESULT* first)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    Send(config, id, v, first);
}

const GUID kCropIds[4] = {SCALVO_PARAM_LEFT_CROPPING, SCALVO_PARAM_TOP_CROPPING, SCALVO_PARAM_RIGHT_CROPPING,
                          SCALVO_PARAM_BOTTOM_CROPPING};

QString Number(unsigned value) { return QString::number(value); }

}  // namespace

CUnknown* CMainPropPage::CreateInstance(IUnknown* outer, HRESULT*) { return new CMainPropPage(outer); }

CMainPropPage::CMainPropPage(IUnknown* outer) : CBasePropertyPage("Main page", outer, u"Main", 520, 420) {}

HRESULT CMainPropPage::OnConnect(IUnknown* object)
{
    return object->QueryInterface(IID_IModuleConfig, m_config.PutVoid());
}

HRESULT CMainPropPage::OnDisconnect()
{
    m_config.Reset();
    return S_OK;
}

HRESULT CMainPropPage::OnActivate()
{
    // The meanings of every enumerated parameter's valid values, in list order.
    m_meanings.clear();
    LONG count = 0;
    m_config->EnumParams(&count, nullptr);
    std::vector<GUID> ids(size_t(std::max<LONG>(count, 0)));
    if (count > 0 && FAILED(m_config->EnumParams(&count, ids.data()))) ids.clear();
    for (const GUID& id : ids) {
        ComPtr<IParamConfig> param;
        LONG n = 0;
        if (FAILED(m_config->GetParamConfig(&id, param.Put())) || param->ListValidValues(&n, nullptr, nullptr) != S_FALSE)
            continue;
        std::vector<BSTR> meanings(size_t(n), nullptr);
        if (SUCCEEDED(param->ListValidValues(&n, nullptr, meanings.data())))
            for (BSTR m : meanings) m_meanings[id].push_back(Utf8FromBstr(m));
        for (BSTR m : meanings) SysFreeString(m);
    }
    HRESULT hr = ReadSnapshot();
    if (FAILED(hr)) return hr;
    BuildControls(static_cast<QWidget*>(PageArea()));
    ShowSnapshot();
    m_active = true;
    return S_OK;
}

HRESULT CMainPropPage::OnDeactivate()
{
    m_active = false;
    delete m_root;
    m_root = nullptr;
    return S_OK;
}

HRESULT CMainPropPage::ReadSnapshot()
{
    double v[22] = {};
    const GUID ids[22] = {SCALVO_PARAM_SOURCE_FRAME_WIDTH, SCALVO_PARAM_SOURCE_FRAME_HEIGHT, SCALVO_PARAM_SOURCE_AR_WIDTH,
                          SCALVO_PARAM_SOURCE_AR_HEIGHT, SCALVO_PARAM_SOURCE_SUBTYPE, SCALVO_PARAM_SOURCE_INTERLACE,
                          SCALVO_PARAM_INTERLACE_STATE, SCALVO_PARAM_CROPPING_STATE, SCALVO_PARAM_LEFT_CROPPING,
                          SCALVO_PARAM_TOP_CROPPING, SCALVO_PARAM_RIGHT_CROPPING, SCALVO_PARAM_BOTTOM_CROPPING,
                          SCALVO_PARAM_RESIZING_STATE, SCALVO_PARAM_RESIZED_WIDTH, SCALVO_PARAM_RESIZED_HEIGHT,
                          SCALVO_PARAM_RESIZING_METHOD, SCALVO_PARAM_AR_CHANGE_STATE, SCALVO_PARAM_TARGET_AR_WIDTH,
                          SCALVO_PARAM_TARGET_AR_HEIGHT, SCALVO_PARAM_AR_METHOD, SCALVO_PARAM_VBI_MODE,
                          SCALVO_PARAM_COLOR_CONVERSION};
    for (size_t i = 0; i < 22; ++i) {
        HRESULT hr = ReadNumber(m_config.Get(), ids[i], &v[i]);
        if (FAILED(hr)) return hr;
    }
    MainPageSnapshot& s = m_snapshot;
    s.sourceWidth = uint16_t(v[0]);
    s.sourceHeight = uint16_t(v[1]);
    s.sourceArWidth = uint16_t(v[2]);
    s.sourceArHeight = uint16_t(v[3]);
    s.sourceSubtype = uint16_t(v[4]);
    s.sourceInterlace = int16_t(v[5]);
    s.interlaceState = uint32_t(v[6]);
    s.cropOn = v[7] != 0;
    for (int i = 0; i < 4; ++i) s.crop[i] = uint16_t(v[8 + i]);
    s.resizeOn = v[12] != 0;
    s.resizedWidth = uint16_t(v[13]);
    s.resizedHeight = uint16_t(v[14]);
    s.resizingMethod = uint32_t(v[15]);
    s.arOn = v[16] != 0;
    s.arWidth = v[17];
    s.arHeight = v[18];
    s.arMethod = uint32_t(v[19]);
    s.vbiMode = uint32_t(v[20]);
    s.colorConversion = v[21] != 0;
    return S_OK;
}

QComboBox* CMainPropPage::ParameterList(const GUID& id, const char* objectName)
{
    auto* list = new QComboBox(m_root);
    list->setObjectName(objectName);
    for (const std::string& meaning : m_meanings[id]) list->addItem(QString::fromStdString(meaning));
    QObject::connect(list, &QComboBox::currentIndexChanged, m_root, [this] { OnCommand(); });
    return list;
}

QLineEdit* CMainPropPage::NumberEdit(const char* objectName, const char* accessibleName, bool allowDecimal)
{
    auto* edit = new QLineEdit(m_root);
    edit->setObjectName(objectName);
    edit->setAccessibleName(accessibleName);
    edit->setValidator(new NumberValidator(allowDecimal, edit));
    edit->setMaximumWidth(64);
    QObject::connect(edit, &QLineEdit::textChanged, m_root, [this] { OnCommand(); });
    return edit;
}

void CMainPropPage::BuildControls(QWidget* area)
{
    m_root = new QWidget(area);
    QLayout* outer = area->layout() ? area->layout() : new QVBoxLayout(area);
    outer->addWidget(m_root);
    auto* layout = new QGridLayout(m_root);
    auto check = [this](const char* text, const char* objectName) {
        auto* box = new QCheckBox(text, m_root);
        box->setObjectName(objectName);
        QObject::connect(box, &QCheckBox::toggled, m_root, [this] { OnCommand(); });
        return box;
    };
    // A caption label, the accessible label of the control it names (buddy).
    auto label = [this](const char* text, QWidget* buddy = nullptr) {
        auto* caption = new QLabel(text, m_root);
        if (buddy) caption->setBuddy(buddy);
        return caption;
    };
    auto row = [this](std::initializer_list<QWidget*> widgets) {
        auto* line = new QHBoxLayout;
        for (QWidget* w : widgets) line->addWidget(w);
        line->addStretch(1);
        return line;
    };

    auto* info = new QGroupBox("Input Stream Information", m_root);
    auto* infoLayout = new QVBoxLayout(info);
    for (int i = 0; i < 5; ++i) {
        m_info[i] = new QLabel(info);
        m_info[i]->setObjectName(QString("InputInfo%1").arg(i + 1));
        infoLayout->addWidget(m_info[i]);
    }
    layout->addWidget(info, 0, 0, 1, 2);

    m_crop = check("Crop Frame", "CropFrame");
    const char* cropNames[4] = {"Left", "Top", "Right", "Bottom"};
    auto* cropRow = new QHBoxLayout;
    cropRow->addWidget(m_crop);
    for (int i = 0; i < 4; ++i) {
        m_cropEdits[i] = NumberEdit(cropNames[i], cropNames[i], true);
        cropRow->addWidget(label(cropNames[i], m_cropEdits[i]));
        cropRow->addWidget(m_cropEdits[i]);
    }
    cropRow->addStretch(1);
    layout->addLayout(cropRow, 1, 0, 1, 2);

    m_streamType = ParameterList(SCALVO_PARAM_INTERLACE_STATE, "StreamTypeDefinition");
    m_vbi = new QComboBox(m_root);
    m_vbi->setObjectName("VBIInformation");
    QObject::connect(m_vbi, &QComboBox::currentIndexChanged, m_root, [this] { OnCommand(); });
    layout->addLayout(row({label("Stream Type Definition", m_streamType), m_streamType}), 2, 0);
    layout->addLayout(row({label("VBI Information", m_vbi), m_vbi}), 2, 1);

    m_resize = check("Resize Frame", "ResizeFrame");
    m_resolution = new QComboBox(m_root);
    m_resolution->setObjectName("StandardResolution");
    for (const std::string& preset : kResolutionPresets) m_resolution->addItem(QString::fromStdString(preset));
    QObject::connect(m_resolution, &QComboBox::currentIndexChanged, m_root, [this] {
        double w, h;
        if (!m_showing && SplitPreset(m_resolution->currentText().toStdString(), 'x', &w, &h)) {
            m_width->setText(Number(unsigned(w)));
            m_height->setText(Number(unsigned(h)));
        }
        OnCommand();
    });
    m_width = NumberEdit("CustomWidth", "Width", false);
    m_height = NumberEdit("CustomHeight", "Height", false);
    m_scalingMethod = ParameterList(SCALVO_PARAM_RESIZING_METHOD, "ScalingMethod");
    layout->addWidget(m_resize, 3, 0);
    layout->addLayout(row({label("Standard Resolution:", m_resolution), m_resolution}), 4, 0);
    layout->addLayout(row({label("Custom Resolution:", m_width), m_width, label("x"), m_height}), 5, 0);
    layout->addLayout(row({label("Scaling Method:", m_scalingMethod), m_scalingMethod}), 6, 0);

    m_ar = check("Change Aspect Ratio", "ChangeAspectRatio");
    m_arPreset = new QComboBox(m_root);
    m_arPreset->setObjectName("StandardAR");
    for (const std::string& preset : kAspectRatioPresets) m_arPreset->addItem(QString::fromStdString(preset));
    QObject::connect(m_arPreset, &QComboBox::currentIndexChanged, m_root, [this] {
        double w, h;
        if (!m_showing && SplitPreset(m_arPreset->currentText().toStdString(), ':', &w, &h)) {
            m_arWidth->setText(QString::fromStdString(FormatCoefficient(w)));
            m_arHeight->setText(QString::fromStdString(FormatCoefficient(h)));
        }
        OnCommand();
    });
    m_arWidth = NumberEdit("CustomARWidth", "W", true);
    m_arHeight = NumberEdit("CustomARHeight", "H", true);
    m_arMethod = ParameterList(SCALVO_PARAM_AR_METHOD, "ARMethod");
    layout->addWidget(m_ar, 3, 1);
    layout->addLayout(row({label("Standard AR:", m_arPreset), m_arPreset}), 4, 1);
    layout->addLayout(row({label("Custom AR:", m_arWidth), m_arWidth, label(":"), m_arHeight}), 5, 1);
    layout->addLayout(row({label("Method:", m_arMethod), m_arMethod}), 6, 1);

    m_colorConversion = check("Enable Color Space Conversion", "EnableColorSpaceConversion");
    layout->addWidget(m_colorConversion, 7, 0, 1, 2);
    layout->setRowStretch(8, 1);
}

void CMainPropPage::SelectValue(QComboBox* list, const GUID& id, uint32_t value)
{
    ComPtr<IParamConfig> param;
    BSTR text = nullptr;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UINT;
    v.uintVal = value;
    if (SUCCEEDED(m_config->GetParamConfig(&id, param.Put())) && SUCCEEDED(param->ValueToText(&v, &text)))
        list->setCurrentIndex(list->findText(QString::fromStdString(Utf8FromBstr(text))));
    SysFreeString(text);
}

void CMainPropPage::ShowSnapshot()
{
    m_showing = true;
    const MainPageSnapshot& s = m_snapshot;
    const std::vector<std::string> lines = InformationLines(s, m_meanings[SCALVO_PARAM_SOURCE_SUBTYPE]);
    for (int i = 0; i < 5; ++i) m_info[i]->setText(QString::fromStdString(lines[size_t(i)]));

    m_crop->setChecked(s.cropOn);
    for (int i = 0; i < 4; ++i) m_cropEdits[i]->setText(Number(s.crop[i]));

    m_resize->setChecked(s.resizeOn);
    const QString size = QString("%1x%2").arg(s.resizedWidth).arg(s.resizedHeight);
    const int preset = m_resolution->findText(size);
    m_resolution->setCurrentIndex(preset >= 0 ? preset : m_resolution->count() - 1);
    m_width->setText(Number(s.resizedWidth));
    m_height->setText(Number(s.resizedHeight));

    m_ar->setChecked(s.arOn);
    const std::string arW = FormatCoefficient(s.arWidth), arH = FormatCoefficient(s.arHeight);
    const int arPreset = m_arPreset->findText(QString::fromStdString(arW + ":" + arH));
    m_arPreset->setCurrentIndex(arPreset >= 0 ? arPreset : m_arPreset->count() - 1);
    m_arWidth->setText(QString::fromStdString(arW));
    m_arHeight->setText(QString::fromStdString(arH));

    SelectValue(m_streamType, SCALVO_PARAM_INTERLACE_STATE, s.interlaceState);
    SelectValue(m_scalingMethod, SCALVO_PARAM_RESIZING_METHOD, s.resizingMethod);
    SelectValue(m_arMethod, SCALVO_PARAM_AR_METHOD, s.arMethod);
    m_colorConversion->setChecked(s.colorConversion);
    RebuildVbiList();
    SelectValue(m_vbi, SCALVO_PARAM_VBI_MODE, s.vbiMode);
    UpdateEnables();
    m_showing = false;
}

void CMainPropPage::UpdateEnables()
{
    const bool crop = m_crop->isChecked(), resize = m_resize->isChecked(), ar = m_ar->isChecked();
    for (QLineEdit* edit : m_cropEdits) edit->setEnabled(crop);
    const bool customSize = m_resolution->currentIndex() == m_resolution->count() - 1;
    m_resolution->setEnabled(resize);
    m_width->setEnabled(resize && customSize);
    m_height->setEnabled(resize && customSize);
    const bool customAr = m_arPreset->currentIndex() == m_arPreset->count() - 1;
    m_arPreset->setEnabled(ar);
    m_arWidth->setEnabled(ar && customAr);
    m_arHeight->setEnabled(ar && customAr);
    m_arMethod->setEnabled(ar);
    m_scalingMethod->setEnabled(resize || ar);
}

void CMainPropPage::RebuildVbiList()
{
    unsigned width = 0, height = 0;
    ResolutionInControls(&width, &height);
    const int availability = VbiAvailability(m_snapshot.sourceWidth, m_snapshot.sourceHeight, m_resize->isChecked(),
                                             width, height);
    const QString selected = m_vbi->currentText();
    const bool showing = m_showing;
    m_showing = true;
    m_vbi->clear();
    const std::vector<std::string>& meanings = m_meanings[SCALVO_PARAM_VBI_MODE];
    for (size_t mode = 0; mode < meanings.size(); ++mode)
        if (availability == 0 || VbiModeOffered(availability, uint32_t(mode)))
            m_vbi->addItem(QString::fromStdString(meanings[mode]));
    const int keep = m_vbi->findText(selected);
    m_vbi->setCurrentIndex(keep >= 0 ? keep : 0);
    m_vbi->setEnabled(availability != 0);
    m_showing = showing;
}

void CMainPropPage::OnCommand()
{
    if (m_showing || !m_active) return;
    m_showing = true;  // the reactions below change controls too
    RebuildVbiList();
    UpdateEnables();
    m_showing = false;
    const MainPageSnapshot now = ControlValues();
    const MainPageSnapshot& s = m_snapshot;
    bool differs = now.interlaceState != s.interlaceState || now.vbiMode != s.vbiMode || now.cropOn != s.cropOn ||
                   now.resizeOn != s.resizeOn || now.resizedWidth != s.resizedWidth ||
                   now.resizedHeight != s.resizedHeight || now.resizingMethod != s.resizingMethod ||
                   now.arOn != s.arOn || now.arWidth != s.arWidth || now.arHeight != s.arHeight ||
                   now.arMethod != s.arMethod || now.colorConversion != s.colorConversion;
    for (int i = 0; i < 4; ++i) differs = differs || now.crop[i] != s.crop[i];
    SetDirty(differs);
}

uint32_t CMainPropPage::ListValue(QComboBox* list, const GUID& id) const
{
    ComPtr<IParamConfig> param;
    VARIANT v, u;
    VariantInit(&v);
    VariantInit(&u);
    uint32_t value = 0;
    BSTR text = SysAllocStringUtf8(list->currentText().toStdString());
    if (SUCCEEDED(m_config->GetParamConfig(&id, param.Put())) && SUCCEEDED(param->TextToValue(text, &v)) &&
        SUCCEEDED(VariantChangeType(&u, &v, 0, VT_UINT)))
        value = u.uintVal;
    SysFreeString(text);
    VariantClear(&v);
    return value;
}

void CMainPropPage::ResolutionInControls(unsigned* width, unsigned* height) const
{
    double w = 0, h = 0;
    if (!SplitPreset(m_resolution->currentText().toStdString(), 'x', &w, &h)) {
        w = ParseNumber(m_width->text().toStdString());
        h = ParseNumber(m_height->text().toStdString());
    }
    *width = unsigned(w);
    *height = unsigned(h);
}

void CMainPropPage::AspectRatioInControls(double* width, double* height) const
{
    if (!SplitPreset(m_arPreset->currentText().toStdString(), ':', width, height)) {
        *width = ParseNumber(m_arWidth->text().toStdString());
        *height = ParseNumber(m_arHeight->text().toStdString());
    }
}

MainPageSnapshot CMainPropPage::ControlValues() const
{
    MainPageSnapshot now = m_snapshot;
    now.interlaceState = ListValue(m_streamType, SCALVO_PARAM_INTERLACE_STATE);
    now.vbiMode = m_vbi->isEnabled() ? ListValue(m_vbi, SCALVO_PARAM_VBI_MODE) : m_snapshot.vbiMode;
    now.cropOn = m_crop->isChecked();
    for (int i = 0; i < 4; ++i)
        now.crop[i] = uint16_t(std::clamp(ParseNumber(m_cropEdits[i]->text().toStdString()), 0.0, 65535.0));
    now.resizeOn = m_resize->isChecked();
    unsigned w = 0, h = 0;
    ResolutionInControls(&w, &h);
    now.resizedWidth = uint16_t(std::min(w, 65535u));
    now.resizedHeight = uint16_t(std::min(h, 65535u));
    now.resizingMethod = ListValue(m_scalingMethod, SCALVO_PARAM_RESIZING_METHOD);
    now.arOn = m_ar->isChecked();
    AspectRatioInControls(&now.arWidth, &now.arHeight);
    now.arMethod = ListValue(m_arMethod, SCALVO_PARAM_AR_METHOD);
    now.colorConversion = m_colorConversion->isChecked();
    return now;
}

HRESULT CMainPropPage::OnApplyChanges()
{
    if (!m_active) return E_UNEXPECTED;
    IModuleConfig* config = m_config.Get();
    const MainPageSnapshot now = ControlValues();
    const MainPageSnapshot& s = m_snapshot;
    HRESULT refused = S_OK;
    if (now.interlaceState != s.interlaceState) SendUint(config, SCALVO_PARAM_INTERLACE_STATE, now.interlaceState, &refused);
    if (now.cropOn != s.cropOn) SendBool(config, SCALVO_PARAM_CROPPING_STATE, now.cropOn, &refused);
    for (int i = 0; i < 4; ++i)
        if (now.crop[i] != s.crop[i]) SendUi2(config, kCropIds[i], now.crop[i], &refused);
    if (now.resizeOn != s.resizeOn) SendBool(config, SCALVO_PARAM_RESIZING_STATE, now.resizeOn, &refused);
    // A preset sends both of its numbers when either differs; the custom edits each their own.
    const bool sizePreset = m_resolution->currentIndex() != m_resolution->count() - 1;
    const bool sizeDiffers = now.resizedWidth != s.resizedWidth || now.resizedHeight != s.resizedHeight;
    if (now.resizedWidth != s.resizedWidth || (sizePreset && sizeDiffers))
        SendUi2(config, SCALVO_PARAM_RESIZED_WIDTH, now.resizedWidth, &refused);
    if (now.resizedHeight != s.resizedHeight || (sizePreset && sizeDiffers))
        SendUi2(config, SCALVO_PARAM_RESIZED_HEIGHT, now.resizedHeight, &refused);
    if (now.resizingMethod != s.resizingMethod) SendUint(config, SCALVO_PARAM_RESIZING_METHOD, now.resizingMethod, &refused);
    if (now.arOn != s.arOn) SendBool(config, SCALVO_PARAM_AR_CHANGE_STATE, now.arOn, &refused);
    const bool arPreset = m_arPreset->currentIndex() != m_arPreset->count() - 1;
    const bool arDiffers = now.arWidth != s.arWidth || now.arHeight != s.arHeight;
    if (now.arWidth != s.arWidth || (arPreset && arDiffers))
        SendR8(config, SCALVO_PARAM_TARGET_AR_WIDTH, now.arWidth, &refused);
    if (now.arHeight != s.arHeight || (arPreset && arDiffers))
        SendR8(config, SCALVO_PARAM_TARGET_AR_HEIGHT, now.arHeight, &refused);
    if (now.arMethod != s.arMethod) SendUint(config, SCALVO_PARAM_AR_METHOD, now.arMethod, &refused);
    if (now.vbiMode != s.vbiMode) SendUint(config, SCALVO_PARAM_VBI_MODE, now.vbiMode, &refused);
    if (now.colorConversion != s.colorConversion)
        SendBool(config, SCALVO_PARAM_COLOR_CONVERSION, now.colorConversion, &refused);

    HRESULT hr = config->CommitChanges(nullptr);
    // A refused commit leaves its values pending in the filter; they are dropped, so that no
    // later commit applies what the page no longer shows.
    if (FAILED(hr)) config->DeclineChanges();
    // Values the filter adjusted (odd sizes made even) or refused show at once.
    if (SUCCEEDED(ReadSnapshot())) ShowSnapshot();
    SetDirty(false);
    return FAILED(hr) ? hr : refused;
}
