#include "capture_devices.h"

#include <cstdio>

#include "com/plugin.h"
#include "dshow/uuids.h"

namespace {

ComPtr<IEnumMoniker> EnumerateCategory(REFCLSID category)
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                                   devices.PutVoid())))
        devices->CreateClassEnumerator(category, monikers.Put(), 0);
    return monikers;
}

ComPtr<IMoniker> NextMoniker(IEnumMoniker* monikers)
{
    ComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    if (monikers->Next(1, moniker.Put(), &fetched) != S_OK || fetched != 1) moniker.Reset();
    return moniker;
}

std::string FriendlyName(IMoniker* moniker)
{
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) || !bag) return "";
    ScopedVariant value;
    std::u16string name = u"FriendlyName";
    if (FAILED(bag->Read(name.c_str(), &value, nullptr)) || value->vt != VT_BSTR) return "";
    return Utf8FromBstr(value->bstrVal);
}

}  // namespace

std::vector<std::string> CaptureDeviceNames(REFCLSID category)
{
    std::vector<std::string> names;
    ComPtr<IEnumMoniker> monikers = EnumerateCategory(category);
    if (!monikers) return names;
    while (ComPtr<IMoniker> moniker = NextMoniker(monikers.Get())) names.push_back(FriendlyName(moniker.Get()));
    return names;
}

bool BindCaptureDevice(REFCLSID category, int position, ComPtr<IBaseFilter>& filter, std::string& error)
{
    ComPtr<IEnumMoniker> monikers = EnumerateCategory(category);
    ComPtr<IMoniker> moniker;
    for (int i = 0; monikers && i <= position; ++i) moniker = NextMoniker(monikers.Get());
    if (!monikers || position < 0 || !moniker) {
        error = "List index out of bounds (" + std::to_string(position) + ")";
        return false;
    }
    HRESULT status = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
    if (FAILED(status) || !filter) {
        error = StatusText(status);
        return false;
    }
    return true;
}

void MediaTypeList::Clear()
{
    for (AM_MEDIA_TYPE* type : types_) DeleteMediaType(type);
    types_.clear();
}

void MediaTypeList::LoadFromFirstOutputPin(IBaseFilter* filter)
{
    Clear();
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put())) || !pins) return;
    ComPtr<IPin> pin;
    ULONG fetched = 0;
    while (pins->Next(1, pin.Put(), &fetched) == S_OK && fetched == 1) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) break;
        pin.Reset();
    }
    ComPtr<IEnumMediaTypes> types;
    if (!pin || FAILED(pin->EnumMediaTypes(types.Put())) || !types) return;
    AM_MEDIA_TYPE* type = nullptr;
    while (types->Next(1, &type, &fetched) == S_OK && fetched == 1) types_.push_back(type);
}

std::vector<VideoTypeEntry> VideoTypeEntries(const MediaTypeList& types)
{
    static const GUID kHdyc = GuidFromFourCC(MakeFourCC('H', 'D', 'Y', 'C'));
    std::vector<VideoTypeEntry> entries;
    for (size_t i = 0; i < types.Size(); ++i) {
        const AM_MEDIA_TYPE& type = *types.At(i);
        const BITMAPINFOHEADER* header = GetBitmapInfoHeader(type);
        if (!header) continue;
        VideoTypeEntry entry;
        entry.formatName = type.subtype == kHdyc ? "HDYC" : ColourFormatName(header->biCompression);
        entry.width = header->biWidth;
        entry.height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
        entry.videoInfo = type.formattype == FORMAT_VideoInfo;
        entry.position = int(i);
        entries.push_back(entry);
    }
    return entries;
}

std::vector<AudioTypeEntry> AudioTypeEntries(const MediaTypeList& types)
{
    std::vector<AudioTypeEntry> entries;
    for (size_t i = 0; i < types.Size(); ++i) {
        const WAVEFORMATEX* wave = GetWaveFormatEx(*types.At(i));
        entries.push_back(wave ? AudioTypeEntry{int(wave->nSamplesPerSec), wave->wBitsPerSample, wave->nChannels}
                               : AudioTypeEntry{});
    }
    return entries;
}

std::string StatusText(HRESULT status)
{
    switch (uint32_t(status)) {
    case 0x800705AA: return "Insufficient system resources exist to complete the requested service.";
    case 0x8007001F: return "A device attached to the system is not functioning.";
    }
    char text[48];
    std::snprintf(text, sizeof text, "Error 0x%08X", unsigned(status));
    return text;
}
