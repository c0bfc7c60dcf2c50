// What the scaler's Main page shows and accepts, apart from its widgets: the input
// information lines, the preset lists, the VBI availability rule, the keystroke filter of its
// number edits and its number parsing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The values the page reads from the filter (applied values), in the filter's terms.
struct MainPageSnapshot {
    uint16_t sourceWidth = 0, sourceHeight = 0, sourceArWidth = 0, sourceArHeight = 0, sourceSubtype = 0;
    int16_t sourceInterlace = 0;
    uint32_t interlaceState = 0;
    bool cropOn = false;
    uint16_t crop[4] = {};  // left, top, right, bottom
    bool resizeOn = false;
    uint16_t resizedWidth = 0, resizedHeight = 0;
    uint32_t resizingMethod = 0;
    bool arOn = false;
    double arWidth = 0, arHeight = 0;
    uint32_t arMethod = 0;
    uint32_t vbiMode = 0;
    bool colorConversion = false;
};

// The five lines of "Input Stream Information". subtypeNames: the meanings of the source
// subtype values, indexed by value ("YUY2" at 1, ...).
std::vector<std::string> InformationLines(const MainPageSnapshot& s, const std::vector<std::string>& subtypeNames);

extern const std::vector<std::string> kResolutionPresets;   // ends in "Custom"
extern const std::vector<std::string> kAspectRatioPresets;  // ends in "Custom"

// Which "VBI using mode" values the page offers: 0 none (list disabled), 1 "Do not use" and
// "Remove", 2 "Do not use" and "Add", 3 all four.
int VbiAvailability(uint16_t sourceWidth, uint16_t sourceHeight, bool resizeOn, unsigned resizedWidth,
                    unsigned resizedHeight);
bool VbiModeOffered(int availability, uint32_t mode);

// The keystroke filter of the number edits: digits only (and one decimal point where
// allowDecimal), at most five characters, and five digits only when the first is 1.
bool AcceptableNumberText(const std::string& text, bool allowDecimal);

// Digits accumulate, "." starts the decimals, "-" in first position negates; anything else
// is skipped.
double ParseNumber(const std::string& text);

// A coefficient as the page shows it: whole numbers without decimals ("16"), else "2.39".
std::string FormatCoefficient(double value);

// Splits a preset text ("1280x720", "16:9") at its separator; false for "Custom".
bool SplitPreset(const std::string& preset, char separator, double* first, double* second);
