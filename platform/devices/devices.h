// What hosts need of the capture devices beyond the DirectShow interfaces: device-removal
// notifications, the virtual test devices, and the camera control list behind the device
// property page.
//
// Capture devices are listed and created through the system device enumerator
// (CoCreateInstance(CLSID_SystemDeviceEnum) -> ICreateDevEnum, see platform/dshow).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../com/unknown.h"
#include "../winmsg/winmsg.h"

// ---- Removal notifications ----------------------------------------------------------------
// A registered window receives WM_DEVICECHANGE with wParam DBT_DEVICEREMOVECOMPLETE (lParam 0)
// whenever a camera or sound device goes away (udev "remove" on video4linux or sound) or a
// virtual device is removed. The message is posted with PostMessageW, so it reaches the host
// on the thread that dispatches the window's messages.
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;

void RegisterDeviceRemovalWindow(HWND window);
void UnregisterDeviceRemovalWindow(HWND window);

// ---- Virtual devices ----------------------------------------------------------------------
// With VELTRO_VIRTUAL_DEVICES=1 the enumerator lists, after the real devices, a test-pattern
// camera and a tone microphone. A removed virtual device leaves the enumeration, its filters
// fail as a pulled device does and registered windows get the removal message.
enum class VirtualDevice { Camera, Microphone };

constexpr const char* kVirtualCameraName = "Veltro Test Pattern Camera";
constexpr const char* kVirtualMicrophoneName = "Veltro Tone Microphone";

bool VirtualDevicesEnabled();
bool IsVirtualDevicePresent(VirtualDevice device);
void SetVirtualDevicePresent(VirtualDevice device, bool present);

// Another process removes or restores a virtual device by writing this file (replace it or
// rewrite it), one line per device: "camera removed", "microphone present", ... The path is
// $VELTRO_VIRTUAL_DEVICE_CONTROL, else $XDG_RUNTIME_DIR/veltro-virtual-devices, else
// /tmp/veltro-virtual-devices-<uid>. It is watched from the first enumeration or removal
// registration on.
std::string VirtualDeviceControlPath();

// ---- Camera controls ----------------------------------------------------------------------
// The controls a camera reports (brightness, contrast, ...), as a property page shows them.
enum class DeviceControlType : int32_t { Integer = 1, Boolean = 2, Menu = 3, Button = 4 };

struct DeviceControl {
    uint32_t id;
    std::string name;
    DeviceControlType type;
    int32_t minimum;
    int32_t maximum;
    int32_t step;
    int32_t defaultValue;
    int32_t value;
    std::vector<std::string> menuItems;  // Menu: the text of each value minimum..maximum ("" for gaps)
};

// On the video capture filters; the device property page (ISpecifyPropertyPages names
// CLSID_DeviceControlsPage) works through it.
constexpr GUID IID_IDeviceControls = {0x7c1b3f52, 0x2d4e, 0x4a8b, {0x9e, 0x61, 0x3a, 0x5d, 0x0c, 0x77, 0x12, 0xe4}};
constexpr GUID CLSID_DeviceControlsPage = {0x7c1b3f53, 0x2d4e, 0x4a8b, {0x9e, 0x61, 0x3a, 0x5d, 0x0c, 0x77, 0x12, 0xe4}};

struct IDeviceControls : IUnknown {
    // Reads the current list from the device (values included).
    virtual HRESULT STDMETHODCALLTYPE GetControls(std::vector<DeviceControl>* controls) = 0;
    // E_INVALIDARG for an unknown id or a value outside the control's range.
    virtual HRESULT STDMETHODCALLTYPE SetControl(uint32_t id, int32_t value) = 0;
};
VELTRO_INTERFACE_ID(IDeviceControls, IID_IDeviceControls);
