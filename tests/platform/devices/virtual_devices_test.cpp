// The virtual devices end to end: listed by the system device enumerator, configured through
// IAMStreamConfig, streaming on the graph clock, and removed (in process and by another
// process through the control file) while streaming.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "capture_harness.h"
#include "com/taskmem.h"
#include "devices/devices.h"

namespace {

class VirtualDevices : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = UseVirtualDevicesIn("veltro-devices");
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/no-server").c_str(), 1);  // no real microphones
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    void TearDown() override
    {
        SetVirtualDevicePresent(VirtualDevice::Camera, true);
        SetVirtualDevicePresent(VirtualDevice::Microphone, true);
    }
    static std::string dir_;
};
std::string VirtualDevices::dir_;

std::vector<std::string> Names(REFCLSID category)
{
    std::vector<std::string> names;
    for (auto& [name, moniker] : ListCategory(category)) names.push_back(name);
    return names;
}

TEST_F(VirtualDevices, ListedLastAndOnlyWhilePresent)
{
    auto video = Names(CLSID_VideoInputDeviceCategory);
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(video.back(), kVirtualCameraName);
    auto audio = Names(CLSID_AudioInputDeviceCategory);
    ASSERT_EQ(audio, std::vector<std::string>{kVirtualMicrophoneName});

    auto listed = ListCategory(CLSID_AudioInputDeviceCategory);
    SetVirtualDevicePresent(VirtualDevice::Microphone, false);
    // An empty category answers S_FALSE without an enumerator.
    ComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum, devEnum.PutVoid()),
              S_OK);
    ComPtr<IEnumMoniker> none;
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, none.Put(), 0), S_FALSE);
    EXPECT_FALSE(none);
    // A moniker taken before the removal no longer binds.
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(listed[0].second->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid()), HRESULT(0x8007048F));
    SetVirtualDevicePresent(VirtualDevice::Microphone, true);
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory).size(), 1u);

    unsetenv("VELTRO_VIRTUAL_DEVICES");
    EXPECT_TRUE(Names(CLSID_AudioInputDeviceCategory).empty());
    setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
}

TEST_F(VirtualDevices, CameraOffersEveryFormatTwiceAndTakesTheChosenRate)
{
    auto filter = BindDevice(CLSID_VideoInputDeviceCategory, kVirtualCameraName);
    ASSERT_TRUE(filter);
    auto pin = TwoFilterGraph::CapturePin(filter.Get());

    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(pin.As(properties), S_OK);
    GUID category{};
    DWORD returned = 0;
    ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                              &returned),
              S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(config), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 3 * 6 * 2);
    EXPECT_EQ(size, int(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    AM_MEDIA_TYPE* rgb24 = nullptr;
    for (int i = 0; i < count; i += 2) {
        AM_MEDIA_TYPE *vi = nullptr, *vi2 = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &vi, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_EQ(config->GetStreamCaps(i + 1, &vi2, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_EQ(vi->formattype, FORMAT_VideoInfo);
        EXPECT_EQ(vi2->formattype, FORMAT_VideoInfo2);
        EXPECT_EQ(vi->subtype, vi2->subtype);
        EXPECT_EQ(GetBitmapInfoHeader(*vi)->biWidth, GetBitmapInfoHeader(*vi2)->biWidth);
        EXPECT_EQ(caps.MinFrameInterval, 166667);  // up to 60 fps
        if (!rgb24 && vi->subtype == MEDIASUBTYPE_RGB24 && GetBitmapInfoHeader(*vi)->biWidth == 320) rgb24 = vi;
        else DeleteMediaType(vi);
        DeleteMediaType(vi2);
    }
    AM_MEDIA_TYPE* past = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(count, &past, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    ASSERT_NE(rgb24, nullptr);

    // As the broadcaster applies a format: set the type, read it back, set the frame time.
    ASSERT_EQ(config->SetFormat(rgb24), S_OK);
    DeleteMediaType(rgb24);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->AvgTimePerFrame = 333667;  // 29.97 fps
    ASSERT_EQ(config->SetFormat(current), S_OK);
    DeleteMediaType(current);
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(GetAvgTimePerFrame(*current), 333667);
    EXPECT_EQ(current->subtype, MEDIASUBTYPE_RGB24);
    DeleteMediaType(current);

    // The pin now offers only the chosen type, and streams it with stamps 333667 apart.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered[2] = {};
    ULONG fetched = 0;
    types->Next(2, offered, &fetched);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(offered[0]->subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(GetAvgTimePerFrame(*offered[0]), 333667);
    DeleteMediaType(offered[0]);

    auto samples = CaptureSamples(filter.Get(), 4);
    ASSERT_GE(samples.size(), 4u);
    for (size_t i = 1; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].start - samples[i - 1].start, 333667);
        EXPECT_EQ(samples[i].stop - samples[i].start, 333667);
        EXPECT_EQ(samples[i].data.size(), 320u * 240 * 3);
        EXPECT_NE(samples[i].data, samples[i - 1].data);  // the counter moves
    }
}

TEST_F(VirtualDevices, CameraControlsAndPropertyPage)
{
    auto filter = BindDevice(CLSID_VideoInputDeviceCategory, kVirtualCameraName);
    ASSERT_TRUE(filter);
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(filter.As(pages), S_OK);
    CAUUID ids{};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    EXPECT_EQ(ids.pElems[0], CLSID_DeviceControlsPage);
    CoTaskMemFree(ids.pElems);

    ComPtr<IDeviceControls> controls;
    ASSERT_EQ(filter.As(controls), S_OK);
    std::vector<DeviceControl> list;
    ASSERT_EQ(controls->GetControls(&list), S_OK);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Pattern Speed");
    EXPECT_EQ(list[1].name, "Brightness");
    EXPECT_EQ(controls->SetControl(list[0].id, 9), S_OK);
    EXPECT_EQ(controls->SetControl(list[0].id, list[0].maximum + 1), E_INVALIDARG);
    EXPECT_EQ(controls->SetControl(12345, 0), E_INVALIDARG);
    controls->GetControls(&list);
    EXPECT_EQ(list[0].value, 9);
}

TEST_F(VirtualDevices, MicrophoneMixLevelScalesTheTone)
{
    auto filter = BindDevice(CLSID_AudioInputDeviceCategory, kVirtualMicrophoneName);
    ASSERT_TRUE(filter);
    auto pin = TwoFilterGraph::CapturePin(filter.Get());
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(config), S_OK);
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    ASSERT_EQ(count, 3);
    std::vector<std::pair<DWORD, WORD>> offered;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        AUDIO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        offered.push_back({GetWaveFormatEx(*mt)->nSamplesPerSec, GetWaveFormatEx(*mt)->nChannels});
        if (i == 1) ASSERT_EQ(config->SetFormat(mt), S_OK);  // 48 kHz stereo
        DeleteMediaType(mt);
    }
    EXPECT_EQ(offered, (std::vector<std::pair<DWORD, WORD>>{{44100, 2}, {48000, 2}, {8000, 1}}));

    ComPtr<IAMAudioInputMixer> mixer;
    ASSERT_EQ(pin.As(mixer), S_OK);
    ASSERT_EQ(mixer->put_MixLevel(0.5), S_OK);
    double level = 0;
    ASSERT_EQ(mixer->get_MixLevel(&level), S_OK);
    EXPECT_DOUBLE_EQ(level, 0.5);
    EXPECT_EQ(mixer->put_MixLevel(1.5), E_INVALIDARG);

    auto samples = CaptureSamples(filter.Get(), 10);
    ASSERT_GE(samples.size(), 10u);
    EXPECT_EQ(samples[0].data.size(), 480u * 4);  // 10 ms of 48 kHz stereo
    EXPECT_EQ(samples[1].start - samples[0].start, 100000);
    EXPECT_NEAR(PeakOf(samples), 8192, 2);  // half-scale tone at half level
}

// Counts WM_DEVICECHANGE / DBT_DEVICEREMOVECOMPLETE on a window dispatched by this thread.
class RemovalWindow {
public:
    RemovalWindow()
    {
        window_ = CreateMessageWindow([this](UINT message, WPARAM wParam, LPARAM) {
            if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEREMOVECOMPLETE) ++removals_;
        }, [] {});
        RegisterDeviceRemovalWindow(window_);
    }
    ~RemovalWindow()
    {
        UnregisterDeviceRemovalWindow(window_);
        DestroyMessageWindow(window_);
    }
    // Dispatches for up to 10 s until a removal arrived.
    int WaitForRemoval()
    {
        for (int i = 0; i < 100 && removals_ == 0; ++i) WaitAndDispatchWindowMessages(window_, 100);
        return removals_;
    }

private:
    HWND window_;
    int removals_ = 0;  // touched only on this thread
};

TEST_F(VirtualDevices, CameraRemovedWhileStreamingEndsTheStreamWithAnError)
{
    RemovalWindow window;
    auto filter = BindDevice(CLSID_VideoInputDeviceCategory, kVirtualCameraName);
    ASSERT_TRUE(filter);
    CaptureRun run;
    ASSERT_TRUE(run.Start(filter.Get()));
    ASSERT_GE(run.sink->WaitFor(2).size(), 2u);

    SetVirtualDevicePresent(VirtualDevice::Camera, false);
    EXPECT_TRUE(run.sink->WaitForEnd());
    EXPECT_EQ(run.graph->Events()->WaitFor(EC_ERRORABORT), HRESULT(0x8007048F));
    EXPECT_EQ(window.WaitForRemoval(), 1);
    auto names = Names(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(std::count(names.begin(), names.end(), kVirtualCameraName), 0);

    // Stopping the failed filter neither hangs nor crashes; starting it again fails as a
    // pulled camera does, until the camera is back.
    run.graph->Stop();
    EXPECT_EQ(run.graph->Run(), HRESULT(0x8007001F));
    run.graph->Stop();
    SetVirtualDevicePresent(VirtualDevice::Camera, true);
    run.sink->Clear();
    ASSERT_EQ(run.graph->Run(), S_OK);
    EXPECT_GE(run.sink->WaitFor(2).size(), 2u);
    run.graph->TearDown();
}

TEST_F(VirtualDevices, AnotherProcessRemovesAndRestoresThroughTheControlFile)
{
    RemovalWindow window;
    ASSERT_EQ(Names(CLSID_AudioInputDeviceCategory).size(), 1u);  // starts the watch
    std::string path = VirtualDeviceControlPath();
    EXPECT_EQ(path, dir_ + "/veltro-virtual-devices");
    ASSERT_EQ(system(("echo 'microphone removed' > " + path).c_str()), 0);
    EXPECT_EQ(window.WaitForRemoval(), 1);
    EXPECT_FALSE(IsVirtualDevicePresent(VirtualDevice::Microphone));
    EXPECT_TRUE(IsVirtualDevicePresent(VirtualDevice::Camera));
    EXPECT_TRUE(Names(CLSID_AudioInputDeviceCategory).empty());

    ASSERT_EQ(system(("printf 'microphone present\\ncamera present\\n' > " + path).c_str()), 0);
    for (int i = 0; i < 100 && !IsVirtualDevicePresent(VirtualDevice::Microphone); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(IsVirtualDevicePresent(VirtualDevice::Microphone));
}

}  // namespace
