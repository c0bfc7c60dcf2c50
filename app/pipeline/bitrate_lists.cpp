#include "bitrate_lists.h"

#include <algorithm>

#include "../settings/program_settings.h"

const std::vector<std::string> kVideoBitrateItems = {"200",  "250",  "350",  "400",  "512",  "650",
                                                     "750",  "800",  "900",  "1000", "1024", "1200",
                                                     "1500", "1800", "2000", "2048", "2200", "2500",
                                                     "2700", "2800", "3000", "3500", "4000"};
const std::vector<std::string> kAudioBitrateItems = {"32", "40", "48",  "56",  "64",  "72",  "80",  "88",  "96",
                                                     "104", "112", "120", "128", "140", "160", "192", "224", "256"};
const std::vector<std::string> kFramerateItems = {"60.00", "59.94", "50.00", "30.00", "29.97", "25.00",
                                                  "24.00", "20.00", "15.00", "14.98", "12.00", "10.00",
                                                  "8.00",  "6.00",  "5.00",  "4.00",  "1.00"};

namespace {

std::string ItemOrDefault(const std::vector<std::string>& items, long long value, const char* fallback)
{
    auto found = std::find(items.begin(), items.end(), std::to_string(value));
    return found != items.end() ? *found : fallback;
}

}  // namespace

int BitrateNumber(const std::string& text)
{
    int value = 0;
    return ParseDecimalInt(text, value) ? value : 0;
}

std::string VideoBitrateText(int storedKbps) { return ItemOrDefault(kVideoBitrateItems, storedKbps, "1000"); }

std::string AudioBitrateText(int storedBitsPerSecond)
{
    if (storedBitsPerSecond % 1000 != 0) return "128";
    return ItemOrDefault(kAudioBitrateItems, storedBitsPerSecond / 1000, "128");
}

int RequiredBitrate(bool videoOn, const std::string& videoText, bool audioOn, const std::string& audioText)
{
    return (videoOn ? BitrateNumber(videoText) : 0) + (audioOn ? BitrateNumber(audioText) : 0);
}
