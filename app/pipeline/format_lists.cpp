#include "format_lists.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdlib>

#include "../settings/program_settings.h"

namespace {

std::string FirstWord(const std::string& text) { return text.substr(0, text.find_first_of(" X")); }

double RoundHalfEven(double value)
{
    std::fesetround(FE_TONEAREST);
    return std::nearbyint(value);
}

}  // namespace

std::vector<std::string> SortedUniqueByFirstWord(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        std::string wordA = FirstWord(a), wordB = FirstWord(b);
        if (wordA.size() != wordB.size()) return wordA.size() < wordB.size();
        if (wordA != wordB) return wordA < wordB;
        return a < b;
    });
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

std::string ColourFormatName(uint32_t biCompression)
{
    switch (biCompression) {
    case 0: return "RGB";
    case 1: return "RLE8";
    case 2: return "RLE4";
    case 3: return "BITFIELDS";
    }
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) name += char((biCompression >> shift) & 0xFF);
    return name;
}

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

std::vector<SizeChoice> ListSizes(const std::vector<VideoTypeEntry>& types, const std::string& formatName,
                                  int hideVideosizes)
{
    std::vector<const VideoTypeEntry*> sizes;
    for (const VideoTypeEntry& type : types)
        if (type.formatName == formatName) sizes.push_back(&type);
    // Equal sizes must end up next to each other for the pairing below.
    std::stable_sort(sizes.begin(), sizes.end(), [](const VideoTypeEntry* a, const VideoTypeEntry* b) {
        return a->width != b->width ? a->width < b->width : a->height < b->height;
    });
    std::vector<SizeChoice> list;
    if (hideVideosizes == 1 && sizes.size() >= 2) {
        for (size_t i = 0; i + 1 < sizes.size(); ++i) {
            const VideoTypeEntry* first = sizes[i];
            const VideoTypeEntry* second = sizes[i + 1];
            if (first->width != second->width || first->height != second->height) continue;
            if (first->videoInfo)
                list.push_back({SizeText(first->width, first->height), first->position});
            else if (second->videoInfo)
                list.push_back({SizeText(second->width, second->height), second->position});
        }
    }
    if (hideVideosizes != 1 || list.empty()) {
        list.clear();
        for (const VideoTypeEntry* type : sizes) list.push_back({SizeText(type->width, type->height), type->position});
    }
    return list;
}

bool ParseSizeText(const std::string& text, int& width, int& height)
{
    size_t left = text.find(" x"), right = text.find("x ");
    if (left == std::string::npos || right == std::string::npos) return false;
    return ParseDecimalInt(text.substr(0, left), width) && ParseDecimalInt(text.substr(right + 2), height);
}

bool ParseFramerate(const std::string& text, double& fps)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    fps = std::strtod(text.c_str(), &end);
    return *end == '\0' && fps > 0;
}

int64_t AvgTimePerFrame(double fps) { return static_cast<int64_t>(RoundHalfEven(10000000.0 / fps)); }

std::vector<std::string> ListSampleRates(const std::vector<AudioTypeEntry>& types)
{
    std::vector<std::string> rates;
    for (const AudioTypeEntry& type : types)
        if (type.bitsPerSample == 16 && type.channels == 2) rates.push_back(std::to_string(type.sampleRate));
    return SortedUniqueByFirstWord(rates);
}

int ChooseAudioType(const std::vector<AudioTypeEntry>& types, const std::string& sampleRate)
{
    for (size_t i = 0; i < types.size(); ++i)
        if (std::to_string(types[i].sampleRate) == sampleRate && types[i].bitsPerSample == 16 && types[i].channels == 2)
            return int(i);
    return types.empty() ? -1 : 0;
}

PreviewRect PreviewPlacement(int videoWidth, int videoHeight)
{
    if (videoWidth <= 0 || videoHeight <= 0) return {0, 0, 320, 180};
    double scale = std::min(320.0 / videoWidth, 180.0 / videoHeight);
    int width = int(RoundHalfEven(videoWidth * scale));
    int height = int(RoundHalfEven(videoHeight * scale));
    return {(320 - width) / 2, (180 - height) / 2, width, height};
}

std::optional<int> ResizeHeightForWidth(int width, int videoWidth, int videoHeight)
{
    if (videoHeight == 0 || videoWidth == 0) return std::nullopt;
    return int(RoundHalfEven(width / (double(videoWidth) / videoHeight)));
}

std::string NormalizeSizeField(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits += c;
    if (digits.empty()) return "0";
    if (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
    return digits;
}

std::string CheckOutputSize(const std::string& widthText, const std::string& heightText)
{
    if (widthText.empty() || heightText.empty() || widthText == "0" || heightText == "0")
        return "Please enter a valid Output video size value";
    int width = 0, height = 0;
    if (!ParseDecimalInt(widthText, width) || !ParseDecimalInt(heightText, height))
        return "Please enter a valid Output video size value";
    if (width < 80 || width > 1920 || height < 60 || height > 1080)
        return "Please provide Output video size in range 80 x 60 to 1920 x 1080";
    return "";
}
