// Capture devices through the system device enumerator, and the media types of their
// first output pin as the format lists see them.
#pragma once

#include <string>
#include <vector>

#include "dshow/mtype.h"
#include "dshow/strmif.h"
#include "format_lists.h"

// Friendly names of the devices of a category, in enumeration order.
std::vector<std::string> CaptureDeviceNames(REFCLSID category);

// Binds the device at `position`; the error text says why it failed.
bool BindCaptureDevice(REFCLSID category, int position, ComPtr<IBaseFilter>& filter, std::string& error);

// The media types of a filter's first output pin, owned.
class MediaTypeList {
public:
    MediaTypeList() = default;
    MediaTypeList(const MediaTypeList&) = delete;
    MediaTypeList& operator=(const MediaTypeList&) = delete;
    ~MediaTypeList() { Clear(); }

    void Clear();
    void LoadFromFirstOutputPin(IBaseFilter* filter);
    size_t Size() const { return types_.size(); }
    AM_MEDIA_TYPE* At(size_t index) const { return index < types_.size() ? types_[index] : nullptr; }

private:
    std::vector<AM_MEDIA_TYPE*> types_;
};

std::vector<VideoTypeEntry> VideoTypeEntries(const MediaTypeList& types);
std::vector<AudioTypeEntry> AudioTypeEntries(const MediaTypeList& types);

// A readable text for a failed status, with the Windows wording for the codes that callers
// look for.
std::string StatusText(HRESULT status);
