#include "device_controls_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>
#include <map>

#include "../dshow/propertypage.h"

namespace {

class CDeviceControlsPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr)
    {
        return new CDeviceControlsPage(outer);
    }

private:
    explicit CDeviceControlsPage(IUnknown* outer) : CBasePropertyPage("Camera page", outer, u"Camera", 420, 320) {}

    HRESULT OnConnect(IUnknown* object) override
    {
        return object->QueryInterface(IID_IDeviceControls, controls_.PutVoid());
    }
    HRESULT OnDisconnect() override
    {
        controls_.Reset();
        return S_OK;
    }

    HRESULT OnActivate() override
    {
        std::vector<DeviceControl> list;
        HRESULT hr = controls_->GetControls(&list);
        if (FAILED(hr)) return hr;
        applied_.clear();
        for (const DeviceControl& c : list)
            if (c.type != DeviceControlType::Button) applied_[c.id] = c.value;
        shown_ = applied_;

        auto* area = static_cast<QWidget*>(PageArea());
        root_ = new QWidget(area);
        QLayout* outer = area->layout() ? area->layout() : new QVBoxLayout(area);
        outer->addWidget(root_);
        auto* rootLayout = new QVBoxLayout(root_);
        auto* scroll = new QScrollArea(root_);
        scroll->setWidgetResizable(true);
        auto* grid = new QWidget;
        auto* layout = new QGridLayout(grid);
        int row = 0;
        for (const DeviceControl& c : list) AddControl(layout, row++, c);
        if (list.empty()) layout->addWidget(new QLabel("This device reports no controls.", grid), 0, 0);
        layout->setRowStretch(row, 1);
        scroll->setWidget(grid);
        rootLayout->addWidget(scroll);
        auto* defaults = new QPushButton("Default", root_);
        defaults->setObjectName("Default");
        QObject::connect(defaults, &QPushButton::clicked, root_, [this, list] {
            for (const DeviceControl& c : list)
                if (c.type != DeviceControlType::Button) resetters_[c.id](c.defaultValue);
        });
        rootLayout->addWidget(defaults, 0, Qt::AlignRight);
        return S_OK;
    }

    HRESULT OnDeactivate() override
    {
        // Closed without Apply: the device gets back what it had.
        if (IsDirty())
            for (auto [id, value] : applied_)
                if (shown_[id] != value) controls_->SetControl(id, value);
        m_bDirty = false;
        resetters_.clear();
        delete root_;
        root_ = nullptr;
        return S_OK;
    }

    HRESULT OnApplyChanges() override
    {
        applied_ = shown_;
        return S_OK;
    }

    void AddControl(QGridLayout* layout, int row, const DeviceControl& c)
    {
        const QString name = QString::fromStdString(c.name);
        auto* label = new QLabel(name, layout->parentWidget());
        switch (c.type) {
        case DeviceControlType::Integer: {
            auto* slider = new QSlider(Qt::Horizontal);
            auto* shown = new QLabel(QString::number(c.value));
            slider->setAccessibleName(name);
            slider->setRange(c.minimum, c.maximum);
            slider->setSingleStep(std::max(c.step, 1));
            slider->setPageStep(std::max(c.step, (c.maximum - c.minimum) / 10));
            slider->setValue(c.value);
            label->setBuddy(slider);
            layout->addWidget(label, row, 0);
            layout->addWidget(slider, row, 1);
            layout->addWidget(shown, row, 2);
            const int step = std::max(c.step, 1), minimum = c.minimum;
            QObject::connect(slider, &QSlider::valueChanged, slider, [=, this](int value) {
                const int snapped = minimum + (value - minimum + step / 2) / step * step;
                if (snapped != value && snapped <= slider->maximum()) return slider->setValue(snapped);
                shown->setText(QString::number(value));
                Change(c.id, value);
            });
            resetters_[c.id] = [slider](int32_t v) { slider->setValue(v); };
            break;
        }
        case DeviceControlType::Boolean: {
            auto* box = new QCheckBox(name);
            box->setChecked(c.value != 0);
            layout->addWidget(box, row, 0, 1, 3);
            delete label;
            QObject::connect(box, &QCheckBox::toggled, box, [=, this](bool on) { Change(c.id, on ? 1 : 0); });
            resetters_[c.id] = [box](int32_t v) { box->setChecked(v != 0); };
            break;
        }
        case DeviceControlType::Menu: {
            auto* combo = new QComboBox;
            for (size_t i = 0; i < c.menuItems.size(); ++i)
                if (!c.menuItems[i].empty())
                    combo->addItem(QString::fromStdString(c.menuItems[i]), c.minimum + int(i));
            combo->setCurrentIndex(combo->findData(c.value));
            label->setBuddy(combo);
            layout->addWidget(label, row, 0);
            layout->addWidget(combo, row, 1, 1, 2);
            QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [=, this](int index) {
                if (index >= 0) Change(c.id, combo->itemData(index).toInt());
            });
            resetters_[c.id] = [combo](int32_t v) { combo->setCurrentIndex(combo->findData(v)); };
            break;
        }
        case DeviceControlType::Button: {
            auto* button = new QPushButton(name);
            layout->addWidget(button, row, 0, 1, 3);
            delete label;
            QObject::connect(button, &QPushButton::clicked, button,
                             [this, id = c.id] { controls_->SetControl(id, 1); });
            break;
        }
        }
    }

    // Applies one value to the device at once, and tracks whether the page differs from
    // what was last applied.
    void Change(uint32_t id, int32_t value)
    {
        if (shown_[id] == value) return;
        if (FAILED(controls_->SetControl(id, value))) {
            // The device refused it (busy, or inactive under an automatic mode): show its value.
            if (auto reset = resetters_.find(id); reset != resetters_.end()) reset->second(shown_[id]);
            return;
        }
        shown_[id] = value;
        SetDirty(shown_ != applied_);
    }

    ComPtr<IDeviceControls> controls_;
    std::map<uint32_t, int32_t> applied_, shown_;
    std::map<uint32_t, std::function<void(int32_t)>> resetters_;
    QWidget* root_ = nullptr;
};

}  // namespace

HRESULT CreateDeviceControlsPage(IUnknown* outer, REFIID iid, void** ppv)
{
    return CreateBuiltin<CDeviceControlsPage::CreateInstance>(outer, iid, ppv);
}
