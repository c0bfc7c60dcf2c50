// The scaler's live configuration: the applied value of every parameter, in registration order.
// Boolean fields hold -1 (on) or 0 (off) as written by the property pages, but any non-zero
// value counts as on.
#pragma once

#include <cstdint>

struct SCALVO_Config {
    uint16_t sourceWidth;
    uint16_t sourceHeight;
    uint16_t sourceArWidth;
    uint16_t sourceArHeight;
    uint16_t sourceSubtype;
    int16_t sourceInterlace;
    uint32_t interlaceState;  // 0 auto, 1 progressive, 2 interlaced
    int16_t croppingOn;
    uint16_t cropLeft, cropTop, cropRight, cropBottom;
    int16_t resizingOn;
    uint16_t resizedWidth;
    uint16_t resizedHeight;
    uint32_t resizingMethod;  // 0 Sharp, 1 Precise, 2 Lanczos
    int16_t arChangeOn;
    double targetArWidth;
    double targetArHeight;
    uint32_t arMethod;  // 0 letter/pillar boxes, 1 crop, 2 squeeze/stretch, 3 panorama
    uint32_t vbiMode;   // 0 do not use, 1 remove, 2 add, 3 copy
    int16_t colorConversion;
    uint32_t affinityMask;
};

enum ArMethod : uint32_t { kArBoxes = 0, kArCrop = 1, kArStretch = 2, kArPanorama = 3 };
enum VbiMode : uint32_t { kVbiNone = 0, kVbiRemove = 1, kVbiAdd = 2, kVbiCopy = 3 };
