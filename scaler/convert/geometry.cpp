#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <numeric>

AspectRatio Reduce(uint64_t x, uint64_t y)
{
    uint64_t g = std::gcd(x, y);
    if (x == 0 || y == 0 || g == 0) return {uint32_t(x), uint32_t(y)};
    return {uint32_t(x / g), uint32_t(y / g)};
}

AspectRatio TargetAspect(double width, double height)
{
    for (int i = 0; i < 4 && (width != std::trunc(width) || height != std::trunc(height)); ++i) {
        width *= 10;
        height *= 10;
    }
    return Reduce(uint64_t(std::max(width, 0.0)), uint64_t(std::max(height, 0.0)));
}

// The height that gives a cropped height ch the pixel aspect ratio of the source.
static double PixelCorrectedHeight(const SCALVO_Config& cfg, int32_t ch)
{
    double denominator = double(cfg.sourceHeight) * cfg.sourceArWidth;
    if (denominator == 0) return ch;
    return double(cfg.sourceWidth) * cfg.sourceArHeight / denominator * ch + 0.5;
}

CroppedSource CropSource(const SCALVO_Config& cfg)
{
    CroppedSource c;
    c.croppingOn = IsOn(cfg.croppingOn);
    c.width = int32_t(cfg.sourceWidth) - cfg.cropLeft - cfg.cropRight;
    c.height = int32_t(cfg.sourceHeight) - cfg.cropTop - cfg.cropBottom;
    if (c.croppingOn && (c.width < 1 || c.height < 1)) c.croppingOn = false;
    if (!c.croppingOn) {
        c.width = cfg.sourceWidth;
        c.height = cfg.sourceHeight;
        c.aspect = {cfg.sourceArWidth, cfg.sourceArHeight};
        return c;
    }
    uint16_t hq = static_cast<uint16_t>(std::clamp(PixelCorrectedHeight(cfg, c.height), 0.0, 65535.0));
    c.aspect = Reduce(uint32_t(c.width), hq);
    return c;
}

AspectRatio OutputAspect(const SCALVO_Config& cfg)
{
    if (IsOn(cfg.arChangeOn)) return TargetAspect(cfg.targetArWidth, cfg.targetArHeight);
    CroppedSource c = CropSource(cfg);
    if (c.croppingOn) {
        double h = std::clamp(PixelCorrectedHeight(cfg, c.height), 0.0, 4294967295.0);
        return Reduce(uint32_t(c.width), uint64_t(h));
    }
    return {cfg.sourceArWidth, cfg.sourceArHeight};
}

bool ProcessesInterlaced(const SCALVO_Config& cfg)
{
    switch (cfg.interlaceState) {
    case 1: return false;
    case 2: return true;
    default: return IsOn(cfg.sourceInterlace);
    }
}

// Rounds a bar or cut to the chroma and field structure: ((v + s - 1) >> s) << s, which takes
// one row off when s = 0. A zero bar stays zero rather than becoming -1, so equal ratios
// written with other numbers keep their zero bars.
static int32_t AlignToStructure(int32_t v, int s)
{
    if (v == 0) return 0;
    return ((v + s - 1) >> s) << s;
}

static void ApplyAspect(const SCALVO_Config& cfg, const GeometryInput& input, const CroppedSource& c,
                        GeometryState& g)
{
    const double a = c.aspect.x, b = c.aspect.y;
    const double tw = cfg.targetArWidth, th = cfg.targetArHeight;
    if (a == 0 || b == 0 || tw == 0 || th == 0) return;
    const double m = b / a - th / tw;
    const double l = a / b - tw / th;
    switch (cfg.arMethod) {
    case kArBoxes:
        if (l > 0) {
            int32_t h = int32_t(-0.5 * m * g.regionHeight * tw / th + 0.5);
            h = AlignToStructure(h, (input.out.vShift ? 1 : 0) + (g.interlaced ? 1 : 0));
            h = std::clamp(h, 0, g.regionHeight / 2);
            g.borderTop = g.borderBottom = h;
            g.regionHeight -= 2 * h;
        } else {
            int32_t w = int32_t(-0.5 * l * th * double(input.outWidth) / tw + 0.5);
            if (input.out.hShift) w &= ~1;
            w = std::clamp(w, 0, int32_t(input.outWidth) / 2);
            g.borderLeft = g.borderRight = w;
            g.regionWidth = int32_t(input.outWidth) - 2 * w;
        }
        break;
    case kArCrop:
        if (l < 0) {
            int32_t cut = int32_t(m * c.height * a / (2 * b) + 0.5);
            cut = AlignToStructure(cut, (input.in.vShift ? 1 : 0) + (g.interlaced ? 1 : 0));
            g.srcTop = g.srcBottom = std::max(cut, 0);
        } else {
            int64_t width = (int64_t(c.width) * c.aspect.y) / c.aspect.x;
            int32_t cut = int32_t((double(width) - 32.0 * (g.skipSourceVbi ? 1 : 0)) * l * 0.5 + 0.5);
            if (input.in.hShift) cut &= ~1;
            g.srcLeft = g.srcRight = std::max(cut, 0);
        }
        break;
    case kArPanorama:
        g.horizontalCoefficient = (a - b * l * 0.25) / a;
        g.verticalCoefficient = (b - a * m * 0.25) / b;
        break;
    default: break;
    }
}

GeometryState ComputeGeometry(const SCALVO_Config& cfg, const GeometryInput& input)
{
    GeometryState g;
    g.interlaced = ProcessesInterlaced(cfg);
    g.vbiActive = input.vbiActive;
    g.regionWidth = int32_t(input.outWidth);
    g.regionHeight = int32_t(input.outHeight);
    const CroppedSource c = CropSource(cfg);

    if (g.vbiActive) {
        switch (cfg.vbiMode) {
        case kVbiRemove: g.skipSourceVbi = true; break;
        case kVbiAdd:
            g.regionHeight -= kVbiLines;
            g.reserveTopVbi = true;
            g.skipSourceVbi = IsVbiFrame(input.srcWidth, input.srcHeight);
            break;
        case kVbiCopy:
            g.regionHeight -= kVbiLines;
            g.skipSourceVbi = g.reserveTopVbi = true;
            break;
        default: break;
        }
    }

    const bool aspectStep = IsOn(cfg.arChangeOn) && cfg.arMethod != kArStretch &&
                            !(cfg.targetArWidth == c.aspect.x && cfg.targetArHeight == c.aspect.y);
    if (aspectStep) ApplyAspect(cfg, input, c, g);

    if (!aspectStep && c.width == g.regionWidth && c.height == g.regionHeight && !g.skipSourceVbi)
        g.copyOnly = true;
    else if (g.skipSourceVbi)
        g.srcTop += kVbiLines;
    if (g.reserveTopVbi) g.borderTop += kVbiLines;
    if (c.croppingOn) {
        g.srcLeft += cfg.cropLeft;
        g.srcTop += cfg.cropTop;
        g.srcRight += cfg.cropRight;
        g.srcBottom += cfg.cropBottom;
    }

    const int32_t srcW = int32_t(input.srcWidth), srcH = int32_t(input.srcHeight);
    if (g.interlaced) {
        g.srcRegionHeight = (srcH >> 1) - (g.srcTop >> 1) - (g.srcBottom >> 1);
        g.srcTop >>= 1;
        g.srcBottom >>= 1;
        g.regionHeight >>= 1;
    } else {
        g.srcRegionHeight = srcH - g.srcTop - g.srcBottom;
    }
    g.srcRegionWidth = srcW - g.srcLeft - g.srcRight;
    // The borders are whole-frame numbers; the picture region may not reach past the output.
    g.regionWidth = std::min(g.regionWidth, int32_t(input.outWidth) - g.borderLeft);
    return g;
}
