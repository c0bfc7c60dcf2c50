// veltro-cli devices: the capture devices with their positions and formats, as the device,
// format, size and sample-rate lists show them.
#include <cstdio>

#include "commands.h"
#include "dshow/uuids.h"
#include "pipeline/capture_devices.h"
#include "pipeline/format_lists.h"
#include "settings/program_settings.h"

namespace {

// The media types of the device's first output pin; prints why when the device cannot be opened.
bool LoadDeviceTypes(REFCLSID category, int position, MediaTypeList& types)
{
    ComPtr<IBaseFilter> filter;
    std::string error;
    if (!BindCaptureDevice(category, position, filter, error)) {
        std::printf("\tcannot open: %s\n", error.c_str());
        return false;
    }
    types.LoadFromFirstOutputPin(filter.Get());
    return true;
}

void PrintVideoDevice(int position, const std::string& name, int hideVideosizes)
{
    std::printf("video %d\t%s\n", position, name.c_str());
    MediaTypeList types;
    if (!LoadDeviceTypes(CLSID_VideoInputDeviceCategory, position, types)) return;
    std::vector<VideoTypeEntry> entries = VideoTypeEntries(types);
    std::vector<std::string> formats;
    for (const VideoTypeEntry& entry : entries) formats.push_back(entry.formatName);
    for (const std::string& format : SortedUniqueByFirstWord(formats)) {
        std::printf("\t%s:", format.c_str());
        const char* separator = " ";
        for (const SizeChoice& size : ListSizes(entries, format, hideVideosizes)) {
            std::printf("%s%s", separator, size.text.c_str());
            separator = ", ";
        }
        std::printf("\n");
    }
}

void PrintAudioDevice(int position, const std::string& name)
{
    std::printf("audio %d\t%s\n", position, name.c_str());
    MediaTypeList types;
    if (!LoadDeviceTypes(CLSID_AudioInputDeviceCategory, position, types)) return;
    std::printf("\tsample rates:");
    const char* separator = " ";
    for (const std::string& rate : ListSampleRates(AudioTypeEntries(types))) {
        std::printf("%s%s", separator, rate.c_str());
        separator = ", ";
    }
    std::printf("\n");
}

}  // namespace

int RunDevices(int argc, char** argv)
{
    if (argc > 2) {
        std::fprintf(stderr, "veltro-cli devices takes no options\n");
        return 2;
    }
    TprogramSettings settings;
    settings.ReadSettings();
    std::vector<std::string> video = CaptureDeviceNames(CLSID_VideoInputDeviceCategory);
    std::vector<std::string> audio = CaptureDeviceNames(CLSID_AudioInputDeviceCategory);
    for (size_t i = 0; i < video.size(); ++i) PrintVideoDevice(int(i), video[i], settings.Hide_Videosizes);
    for (size_t i = 0; i < audio.size(); ++i) PrintAudioDevice(int(i), audio[i]);
    if (video.empty()) std::printf("no video capture device\n");
    if (audio.empty()) std::printf("no audio capture device\n");
    return 0;
}
