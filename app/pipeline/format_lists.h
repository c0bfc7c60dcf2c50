// How capture formats are listed and chosen: colour-format and sample-rate lists, the size
// list with its pairing of video header kinds, the size text, the frame time, the preview
// placement and the output-size rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Keeps each text once and orders by the first word (text before the first blank or "X"):
// shorter first words first, equal lengths in character code order.
std::vector<std::string> SortedUniqueByFirstWord(std::vector<std::string> texts);

// "RGB", "RLE8", "RLE4", "BITFIELDS" or the compression code's four characters.
std::string ColourFormatName(uint32_t biCompression);

// One video media type of the capture pin as the lists see it.
struct VideoTypeEntry {
    std::string formatName;
    int width = 0;
    int height = 0;
    bool videoInfo = false;  // format block is a plain video information header
    int position = 0;        // position in the pin's media types
};
std::string SizeText(int width, int height);  // "640 x 480"

struct SizeChoice {
    std::string text;
    int position;  // media type position
};
// Sizes of `formatName`, by width; with hideVideosizes = 1 only sizes offered twice (one
// "VideoInfo" of each pair is kept), unless that leaves none.
std::vector<SizeChoice> ListSizes(const std::vector<VideoTypeEntry>& types, const std::string& formatName,
                                  int hideVideosizes);

// "640 x 480" -> 640, 480. False when the text does not hold two numbers.
bool ParseSizeText(const std::string& text, int& width, int& height);

// 10,000,000 / fps in 100-ns units, halves to even; false for a text that is not a positive number.
bool ParseFramerate(const std::string& text, double& fps);
int64_t AvgTimePerFrame(double fps);

struct AudioTypeEntry {
    int sampleRate = 0;
    int bitsPerSample = 0;
    int channels = 0;
};
// Rates of the 16-bit stereo types, unique and sorted.
std::vector<std::string> ListSampleRates(const std::vector<AudioTypeEntry>& types);
// The first 16-bit stereo type at the rate, else the first type; -1 for an empty list.
int ChooseAudioType(const std::vector<AudioTypeEntry>& types, const std::string& sampleRate);

// The preview placed inside the 320 x 180 area, keeping the capture aspect ratio.
struct PreviewRect {
    int left, top, width, height;
};
PreviewRect PreviewPlacement(int videoWidth, int videoHeight);

// The output height that keeps the capture aspect ratio for a typed width (halves to even);
// nothing for a capture height of 0.
std::optional<int> ResizeHeightForWidth(int width, int videoWidth, int videoHeight);
// A size field after a change: digits only, "0" when empty, one leading "0" of a longer text removed.
std::string NormalizeSizeField(const std::string& text);
// The broadcast-start check of the output size; empty when it passes, else the message.
std::string CheckOutputSize(const std::string& widthText, const std::string& heightText);
