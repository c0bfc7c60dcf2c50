// The bit-rate lists of the video and audio panels and the required total they add up to.
#pragma once

#include <string>
#include <vector>

extern const std::vector<std::string> kVideoBitrateItems;  // kbit/s, "200" ... "4000"
extern const std::vector<std::string> kAudioBitrateItems;  // kbit/s, "32" ... "256"
extern const std::vector<std::string> kFramerateItems;     // "60.00" ... "1.00"

// The list text shown for stored values: the equal item, else "1000" (video) / "128" (audio).
std::string VideoBitrateText(int storedKbps);
std::string AudioBitrateText(int storedBitsPerSecond);

// The number of a bit-rate text; 0 when it is not a number.
int BitrateNumber(const std::string& text);

// Video number when video is on plus audio number when audio is on, in kbit/s.
int RequiredBitrate(bool videoOn, const std::string& videoText, bool audioOn, const std::string& audioText);
