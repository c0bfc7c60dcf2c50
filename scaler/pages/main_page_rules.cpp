#include "main_page_rules.h"

#include <cmath>
#include <cstdio>

namespace {

bool IsVbiSize(unsigned width, unsigned height) { return width == 720 && (height == 608 || height == 512); }

std::string Printf(const char* format, int a, int b)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

const std::vector<std::string> kResolutionPresets = {
    "1920x1080", "1440x1080", "1280x720", "720x608", "720x576", "720x512", "720x480",
    "704x576",   "704x480",   "640x480",  "480x576", "480x480", "352x576", "352x480",
    "352x288",   "352x240",   "320x240",  "176x144", "128x96",  "Custom"};

const std::vector<std::string> kAspectRatioPresets = {"2.39:1", "2.35:1", "2.21:1", "2:1", "1.85:1", "16:9",
                                                      "14:9",   "1.5:1",  "4:3",    "1.25:1", "1:1", "Custom"};

std::vector<std::string> InformationLines(const MainPageSnapshot& s, const std::vector<std::string>& subtypeNames)
{
    std::vector<std::string> lines;
    if (s.sourceWidth != 0 && s.sourceHeight != 0) {
        lines.push_back(Printf("Resolution:      %dx%d", s.sourceWidth, s.sourceHeight));
        lines.push_back(Printf("Aspect Ratio:      %dx%d", s.sourceArWidth, s.sourceArHeight));
        lines.push_back(s.sourceInterlace ? "Stream Type:   Interlaced" : "Stream Type:   Progressive");
        lines.push_back(IsVbiSize(s.sourceWidth, s.sourceHeight) ? "VBI Info Presence:  Yes"
                                                                 : "VBI Info Presence:  No");
    } else {
        lines = {"Resolution:           N/A", "Aspect Ratio:         N/A", "Stream Type:         N/A",
                 "VBI Info Presence: N/A"};
    }
    const bool named = s.sourceSubtype != 0 && s.sourceSubtype < subtypeNames.size();
    lines.push_back("Media Subtype:   " + (named ? subtypeNames[s.sourceSubtype] : std::string("  N/A")));
    return lines;
}

int VbiAvailability(uint16_t sourceWidth, uint16_t sourceHeight, bool resizeOn, unsigned resizedWidth,
                    unsigned resizedHeight)
{
    int v = 0;
    if (IsVbiSize(sourceWidth, sourceHeight)) v = resizeOn ? 1 : 3;
    if (resizeOn && IsVbiSize(resizedWidth, resizedHeight)) v = v != 0 ? 3 : 2;
    return v;
}

bool VbiModeOffered(int availability, uint32_t mode)
{
    switch (availability) {
    case 1: return mode == 0 || mode == 1;
    case 2: return mode == 0 || mode == 2;
    case 3: return mode <= 3;
    default: return false;
    }
}

bool AcceptableNumberText(const std::string& text, bool allowDecimal)
{
    if (text.size() > 5) return false;
    int points = 0;
    for (char c : text) {
        if (c == '.' && allowDecimal && ++points == 1) continue;
        if (c < '0' || c > '9') return false;
    }
    // Values stay below 20000: five digits only from 10000 to 19999.
    return !(text.size() == 5 && points == 0 && text[0] != '1');
}

double ParseNumber(const std::string& text)
{
    double value = 0;
    int decimals = 0;
    bool inDecimals = false, negative = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (inDecimals) ++decimals;
        } else if (c == '.') {
            inDecimals = true;
        } else if (c == '-' && i == 0) {
            negative = true;
        }
    }
    for (int i = 0; i < decimals; ++i) value /= 10;
    return negative ? -value : value;
}

std::string FormatCoefficient(double value)
{
    char text[32];
    if (value == std::floor(value) && std::fabs(value) < 1e9)
        std::snprintf(text, sizeof text, "%d", int(value));
    else
        std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

bool SplitPreset(const std::string& preset, char separator, double* first, double* second)
{
    const size_t at = preset.find(separator);
    if (at == std::string::npos) return false;
    *first = ParseNumber(preset.substr(0, at));
    *second = ParseNumber(preset.substr(at + 1));
    return true;
}
