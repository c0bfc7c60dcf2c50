// The system device enumerator for the two capture categories. Each enumeration lists the
// devices present at that moment: V4L2 capture nodes by node number, PulseAudio sources (real
// ones before monitors) by index, then, when enabled and present, the virtual devices.
#include <functional>
#include <string>
#include <vector>

#include "../com/plugin.h"
#include "../dshow/uuids.h"
#include "capture_filters.h"
#include "device_watch.h"
#include "pulse_microphone.h"
#include "v4l2_camera.h"
#include "virtual_devices.h"

namespace {

struct DeviceEntry {
    std::string friendlyName;
    std::string devicePath;
    std::function<HRESULT(IBaseFilter**)> createFilter;
};

std::vector<DeviceEntry> ListVideoDevices()
{
    std::vector<DeviceEntry> devices;
    for (const auto& camera : ListV4l2Cameras()) {
        devices.push_back({camera.card, camera.path, [camera](IBaseFilter** filter) {
                               std::string error;
                               auto backend = OpenV4l2Camera(camera.path, &error);
                               if (!backend) return kDeviceNotConnected;
                               return CreateVideoCaptureFilter(std::move(backend), filter);
                           }});
    }
    if (VirtualDevicesEnabled() && IsVirtualDevicePresent(VirtualDevice::Camera)) {
        devices.push_back({kVirtualCameraName, "virtual:camera", [](IBaseFilter** filter) {
                               if (!IsVirtualDevicePresent(VirtualDevice::Camera)) return kDeviceNotConnected;
                               return CreateVideoCaptureFilter(CreatePatternCamera(), filter);
                           }});
    }
    return devices;
}

std::vector<DeviceEntry> ListAudioDevices()
{
    std::vector<DeviceEntry> devices;
    for (const auto& source : ListPulseSources()) {
        devices.push_back({source.description, source.name, [source](IBaseFilter** filter) {
                               return CreateAudioCaptureFilter(OpenPulseMicrophone(source.name), filter);
                           }});
    }
    if (VirtualDevicesEnabled() && IsVirtualDevicePresent(VirtualDevice::Microphone)) {
        devices.push_back({kVirtualMicrophoneName, "virtual:microphone", [](IBaseFilter** filter) {
                               if (!IsVirtualDevicePresent(VirtualDevice::Microphone)) return kDeviceNotConnected;
                               return CreateAudioCaptureFilter(CreateToneMicrophone(), filter);
                           }});
    }
    return devices;
}

class DevicePropertyBag final : public ComObject<IPropertyBag> {
public:
    explicit DevicePropertyBag(const DeviceEntry& device) : device_(device) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        if (!name || !value) return E_POINTER;
        std::string key = Utf8FromUtf16(reinterpret_cast<const char16_t*>(name));
        const std::string* text = key == "FriendlyName" ? &device_.friendlyName
                                  : key == "DevicePath" ? &device_.devicePath
                                                        : nullptr;
        if (!text) return E_INVALIDARG;
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocStringUtf8(*text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    DeviceEntry device_;
};

class DeviceMoniker final : public ComObject<IMoniker> {
public:
    explicit DeviceMoniker(DeviceEntry device) : device_(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        ComPtr<IBaseFilter> filter;
        HRESULT hr = device_.createFilter(filter.Put());
        if (FAILED(hr)) return hr;
        return filter->QueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        auto bag = ComPtr<IPropertyBag>::Adopt(new DevicePropertyBag(device_));
        return bag->QueryInterface(iid, ppv);
    }

private:
    DeviceEntry device_;
};

class DeviceMonikerList final : public ComObject<IEnumMoniker> {
public:
    DeviceMonikerList(std::vector<DeviceEntry> devices, size_t position = 0)
        : devices_(std::move(devices)), position_(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override
    {
        if (!monikers || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && position_ < devices_.size(); ++given, ++position_)
            monikers[given] = new DeviceMoniker(devices_[position_]);
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        size_t left = devices_.size() - position_;
        position_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** clone) override
    {
        if (!clone) return E_POINTER;
        *clone = new DeviceMonikerList(devices_, position_);
        return S_OK;
    }

private:
    std::vector<DeviceEntry> devices_;
    size_t position_;
};

class SystemDeviceEnum final : public ComObject<ICreateDevEnum> {
public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD) override
    {
        if (!monikers) return E_POINTER;
        *monikers = nullptr;
        std::vector<DeviceEntry> devices;
        if (category == CLSID_VideoInputDeviceCategory) devices = ListVideoDevices();
        else if (category == CLSID_AudioInputDeviceCategory) devices = ListAudioDevices();
        // The control file of the virtual devices is watched from the first listing on.
        if (VirtualDevicesEnabled()) EnsureDeviceWatch();
        if (devices.empty()) return S_FALSE;
        *monikers = new DeviceMonikerList(std::move(devices));
        return S_OK;
    }
};

HRESULT CreateSystemDeviceEnum(IUnknown* outer, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto devEnum = ComPtr<ICreateDevEnum>::Adopt(new SystemDeviceEnum);
    return devEnum->QueryInterface(iid, ppv);
}

const bool kRegistered = (RegisterBuiltinClass(CLSID_SystemDeviceEnum, CreateSystemDeviceEnum), true);

}  // namespace
