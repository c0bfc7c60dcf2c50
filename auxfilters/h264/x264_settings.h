// The H.264 encoder's settings as the broadcaster stores them in the registry, and their
// translation into libx264 parameters. README.md in this folder's parent documents each value.
#pragma once

#include <cstdint>

#include <x264.h>

inline constexpr const char* kX264SettingsKey = "Software\\MONOGRAM\\MONOGRAM x264 Encoder";

// The x264 preset under the stored values: its motion search and analysis settings stay.
inline constexpr const char* kX264Preset = "veryfast";

// The most frame threads "Parallel" asks for: each one delays the stream by a frame.
inline constexpr int kMaxFrameThreads = 4;

// One field per registry value, initialised with the defaults the broadcaster writes.
struct X264Settings {
    int32_t level = 12;  // position in the level list, 12 = 4.1
    int32_t bitrate = 1024;     // kbit/s
    int32_t vbvMaxRate = 1228;  // kbit/s
    int32_t vbvSize = 1024;     // kbit
    int32_t rcMethod = 0;       // 0 average bit rate, 1 constant QP, 2 constant quality
    int32_t qpConst = 23;
    int32_t qpMin = 6;
    int32_t qpMax = 51;
    int32_t tolerance = 10;
    int32_t keyIntMin = 30;
    int32_t keyIntMax = 90;
    int32_t bFrames = 2;
    int32_t bAdaptive = 0;
    int32_t bPyramid = 0;
    int32_t refFrames = 5;
    int32_t cabac = 1;
    int32_t deblock = 1;
    int32_t deblockStrength = 0;
    int32_t subpixel = 3;
    int32_t partitionsIntra = 1;
    int32_t partitionsInter = 2;
    int32_t trellis = 1;
    int32_t weightedPred = 1;
    int32_t directMV = 1;
    int32_t mixedRefs = 1;
    int32_t interlaced = 0;
    int32_t slicedThreading = 0;
    int32_t parallel = 1;
    int32_t aud = 0;
    int32_t annexB = 0;
    int32_t intraRefresh = 0;
};

// Reads HKCU\Software\MONOGRAM\MONOGRAM x264 Encoder; missing values keep their defaults.
X264Settings ReadX264Settings();

// The H.264 level_idc for a position in the level list, or -1 (let x264 choose) outside it.
int LevelIdcForPosition(int32_t position);

// Fills `param` for a live encode of width x height at fpsNum/fpsDen: a fast preset first,
// then every registry value on top of it. Timestamps are in 100-ns units.
void ApplyX264Settings(const X264Settings& settings, int width, int height, uint32_t fpsNum, uint32_t fpsDen,
                       x264_param_t* param);
