// The camera's page in the property frame: a control moved on the page reaches the running
// picture, Cancel puts the device back, and a V4L2 camera's page lists what its driver reports.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSlider>
#include <QTabWidget>
#include <filesystem>

#include "capture_harness.h"
#include "devices/devices.h"
#include "page_harness.h"
#include "propframe/property_frame.h"

namespace {

class CameraPage : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = UseVirtualDevicesIn("veltro-camera-page");
        TestApplication();
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    static std::string dir_;
};
std::string CameraPage::dir_;

double MeanByte(const std::vector<BYTE>& frame)
{
    double sum = 0;
    for (BYTE b : frame) sum += b;
    return frame.empty() ? 0 : sum / double(frame.size());
}

int32_t ControlValue(IBaseFilter* filter, const std::string& name)
{
    ComPtr<IDeviceControls> controls;
    ComPtr<IBaseFilter>(filter).As(controls);
    std::vector<DeviceControl> list;
    controls->GetControls(&list);
    for (const DeviceControl& c : list)
        if (c.name == name) return c.value;
    return INT32_MIN;
}

TEST_F(CameraPage, MovedControlReachesTheRunningPictureAndCancelPutsItBack)
{
    auto filter = BindDevice(CLSID_VideoInputDeviceCategory, kVirtualCameraName);
    ASSERT_TRUE(filter);
    CaptureRun run;
    ASSERT_TRUE(run.Start(filter.Get()));
    auto before = run.sink->WaitFor(2);
    ASSERT_GE(before.size(), 2u);

    QString tab;
    bool applyEnabled = false;
    WhenFrameShows([&](QDialog* frame) {
        tab = frame->findChild<QTabWidget*>()->tabText(0);
        for (auto* slider : frame->findChildren<QSlider*>())
            if (slider->accessibleName() == "Brightness") slider->setValue(100);
        applyEnabled = frame->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->isEnabled();
        PressFrameButton(frame, QDialogButtonBox::Ok);
    });
    bool accepted = false;
    ASSERT_EQ(ShowPropertyPages(nullptr, u"Video capture", filter.Get(), &accepted), S_OK);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(tab, "Camera");
    EXPECT_TRUE(applyEnabled);
    EXPECT_EQ(ControlValue(filter.Get(), "Brightness"), 100);

    run.sink->Clear();
    auto after = run.sink->WaitFor(2);
    ASSERT_GE(after.size(), 2u);
    EXPECT_GT(MeanByte(after.back().data), MeanByte(before.back().data) + 30);

    // "Default" acts on the device at once; Cancel gives it back what it had.
    int32_t byDefault = -1;
    WhenFrameShows([&](QDialog* frame) {
        frame->findChild<QPushButton*>("Default")->click();
        byDefault = ControlValue(filter.Get(), "Brightness");
        PressFrameButton(frame, QDialogButtonBox::Cancel);
    });
    ASSERT_EQ(ShowPropertyPages(nullptr, u"Video capture", filter.Get(), &accepted), S_OK);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(byDefault, 0);
    EXPECT_EQ(ControlValue(filter.Get(), "Brightness"), 100);
    run.graph->TearDown();

    // The value belongs to the device: a filter opened later starts with it.
    auto again = BindDevice(CLSID_VideoInputDeviceCategory, kVirtualCameraName);
    EXPECT_EQ(ControlValue(again.Get(), "Brightness"), 100);
    ComPtr<IDeviceControls> controls;
    again.As(controls);
    controls->SetControl(0x00980900, 0);
}

TEST_F(CameraPage, V4l2CameraPageShowsTheDriversControls)
{
    auto devices = ListCategory(CLSID_VideoInputDeviceCategory);
    if (devices.empty() || devices.front().first == kVirtualCameraName) GTEST_SKIP() << "no V4L2 camera here";
    auto filter = BindDevice(CLSID_VideoInputDeviceCategory, devices.front().first);
    ASSERT_TRUE(filter);
    ComPtr<IDeviceControls> controls;
    ASSERT_EQ(filter.As(controls), S_OK);
    std::vector<DeviceControl> list;
    ASSERT_EQ(controls->GetControls(&list), S_OK);

    size_t shown = 0;
    WhenFrameShows([&](QDialog* frame) {
        QStringList names;
        for (QWidget* w : frame->findChildren<QWidget*>()) names << w->accessibleName() << w->property("text").toString();
        for (const DeviceControl& c : list) shown += names.contains(QString::fromStdString(c.name));
        PressFrameButton(frame, QDialogButtonBox::Cancel);
    });
    ASSERT_EQ(ShowPropertyPages(nullptr, u"Video capture", filter.Get()), S_OK);
    EXPECT_EQ(shown, list.size());
}

}  // namespace
