#include "capture_choices.h"

#include <algorithm>

#include "../session/session_state.h"
#include "../settings/program_settings.h"
#include "dshow/uuids.h"

bool CaptureChoices::ListVideoDevices()
{
    videoDevices = CaptureDeviceNames(CLSID_VideoInputDeviceCategory);
    return !videoDevices.empty();
}

bool CaptureChoices::ListAudioDevices()
{
    audioDevices = CaptureDeviceNames(CLSID_AudioInputDeviceCategory);
    return !audioDevices.empty();
}

void CaptureChoices::DropVideo()
{
    videoDevices.clear();
    videoDevicePosition = -1;
    VideoMediaTypes.Clear();
    Video_Input_Sizes.clear();
    sizeSelection = -1;
}

void CaptureChoices::DropAudio()
{
    audioDevices.clear();
    audioDevicePosition = -1;
    AudioMediaTypes.Clear();
}

bool CaptureChoices::ListVideoFormats(IBaseFilter* videoSource, TprogramSettings& settings, SessionState& state)
{
    formats.clear();
    Video_Input_Sizes.clear();
    VideoMediaTypes.LoadFromFirstOutputPin(videoSource);
    for (const VideoTypeEntry& entry : VideoTypeEntries(VideoMediaTypes)) formats.push_back(entry.formatName);
    formats = SortedUniqueByFirstWord(formats);
    formatSelection = formats.empty() ? -1 : 0;
    auto stored = std::find(formats.begin(), formats.end(), settings.VideoFormat);
    if (stored != formats.end()) formatSelection = int(stored - formats.begin());
    ListSizes(settings);
    sizeSelection = -1;
    if (settings.VideosizeIndex >= 0 && settings.VideosizeIndex < int(Video_Input_Sizes.size()))
        sizeSelection = settings.VideosizeIndex;
    TakeSize(settings, state);
    settings.Log("Imported Video Formats ok ");
    return true;
}

void CaptureChoices::ListSizes(const TprogramSettings& settings)
{
    Video_Input_Sizes = ::ListSizes(VideoTypeEntries(VideoMediaTypes), SelectedFormat(), settings.Hide_Videosizes);
}

bool CaptureChoices::TakeSize(TprogramSettings& settings, SessionState& state)
{
    int width = 0, height = 0;
    if (!ParseSizeText(SelectedSize(), width, height)) return false;
    settings.Video_width = width;
    settings.Video_height = height;
    if (settings.Output_resize != 1) {
        // The fields too: the start check reads them while the scaler gets the settings.
        settings.Resize_width = width;
        settings.Resize_height = height;
        state.resizeWidthText = std::to_string(width);
        state.resizeHeightText = std::to_string(height);
    }
    return true;
}

bool CaptureChoices::ListSampleRates(IBaseFilter* audioSource, TprogramSettings& settings)
{
    AudioMediaTypes.LoadFromFirstOutputPin(audioSource);
    sampleRates = ::ListSampleRates(AudioTypeEntries(AudioMediaTypes));
    auto stored = std::find(sampleRates.begin(), sampleRates.end(), settings.AudioSampleRate);
    sampleRateSelection = stored == sampleRates.end() ? -1 : int(stored - sampleRates.begin());
    settings.Log("Imported Audio Formats ok");
    return true;
}

std::string CaptureChoices::SelectedFormat() const
{
    return formatSelection >= 0 && formatSelection < int(formats.size()) ? formats[formatSelection] : "";
}

std::string CaptureChoices::SelectedSize() const
{
    return sizeSelection >= 0 && sizeSelection < int(Video_Input_Sizes.size()) ? Video_Input_Sizes[sizeSelection].text
                                                                                : "";
}
