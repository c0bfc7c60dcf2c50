// Frame geometry: what part of the source is cut out, where the scaled picture lands in the
// output, how wide the bars are, and which panorama bend each axis gets.
#pragma once

#include <cstdint>

#include "convert/pixel_format.h"
#include "scalvo_config.h"

constexpr uint32_t kVbiLines = 32;

inline bool IsOn(int16_t flag) { return flag != 0; }
// 720 x 608 or 720 x 512: the top 32 lines carry VBI data.
inline bool IsVbiFrame(uint32_t width, uint32_t height) { return width == 720 && (height == 608 || height == 512); }

struct AspectRatio {
    uint32_t x = 0, y = 0;
};

// The cropped region and its picture aspect ratio (with the source's pixel aspect ratio).
struct CroppedSource {
    bool croppingOn = false;
    int32_t width = 0, height = 0;  // cw, ch
    AspectRatio aspect;             // a : b
};
CroppedSource CropSource(const SCALVO_Config& cfg);

// Reduces a pair by its greatest common divisor (a zero member leaves the pair as it is).
AspectRatio Reduce(uint64_t x, uint64_t y);
// The target coefficients as whole numbers (times 10 up to four times), reduced.
AspectRatio TargetAspect(double width, double height);

// The output picture aspect ratio the scaler announces for the current configuration.
AspectRatio OutputAspect(const SCALVO_Config& cfg);
// True when the configuration processes the picture as two fields.
bool ProcessesInterlaced(const SCALVO_Config& cfg);

struct GeometryInput {
    uint32_t srcWidth = 0, srcHeight = 0;
    uint32_t outWidth = 0, outHeight = 0;
    FormatDescriptor in, out;
    bool vbiActive = false;
};

struct GeometryState {
    bool interlaced = false;
    bool vbiActive = false;
    bool copyOnly = false;
    bool skipSourceVbi = false;
    bool reserveTopVbi = false;
    int32_t regionWidth = 0, regionHeight = 0;  // per field when interlaced
    int32_t srcLeft = 0, srcTop = 0, srcRight = 0, srcBottom = 0;  // per field when interlaced
    int32_t borderLeft = 0, borderTop = 0, borderRight = 0, borderBottom = 0;
    int32_t srcRegionWidth = 0, srcRegionHeight = 0;  // per field when interlaced
    double horizontalCoefficient = 0.0, verticalCoefficient = 0.0;

    // False when the numbers leave no picture to scale (the output then shows borders only).
    bool HasPicture() const { return regionWidth > 0 && regionHeight > 0 && srcRegionWidth > 0 && srcRegionHeight > 0; }
};

GeometryState ComputeGeometry(const SCALVO_Config& cfg, const GeometryInput& input);
