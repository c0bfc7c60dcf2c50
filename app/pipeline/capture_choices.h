// The capture choices of the video and audio panels: device lists, colour formats, sizes and
// sample rates, filled from the devices and selected from the settings.
#pragma once

#include <string>
#include <vector>

#include "capture_devices.h"
#include "format_lists.h"

class TprogramSettings;
struct SessionState;

class CaptureChoices {
public:
    std::vector<std::string> videoDevices;  // vSysDev, friendly names in enumeration order
    std::vector<std::string> audioDevices;  // aSysDev
    int videoDevicePosition = -1;           // selection of the device list VideoSource1
    int audioDevicePosition = -1;           // selection of Audiosource1
    MediaTypeList VideoMediaTypes;
    MediaTypeList AudioMediaTypes;
    std::vector<std::string> formats;
    int formatSelection = -1;
    std::vector<SizeChoice> Video_Input_Sizes;  // the offered sizes with their media types
    int sizeSelection = -1;
    std::vector<std::string> sampleRates;
    int sampleRateSelection = -1;
    bool vsource_changed = false;
    bool asource_changed = false;

    // False when there is no device.
    bool ListVideoDevices();
    bool ListAudioDevices();
    void DropVideo();
    void DropAudio();

    // After the capture filter was created: fills and selects the lists from the settings.
    bool ListVideoFormats(IBaseFilter* videoSource, TprogramSettings& settings, SessionState& state);
    void ListSizes(const TprogramSettings& settings);
    // The selected size into Video_width and Video_height; while resizing is off the output
    // size (settings and the two fields of `state`) follows. False without a size.
    bool TakeSize(TprogramSettings& settings, SessionState& state);
    bool ListSampleRates(IBaseFilter* audioSource, TprogramSettings& settings);

    std::string SelectedFormat() const;
    std::string SelectedSize() const;
};
