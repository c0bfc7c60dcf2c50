// The backends of the virtual test devices: a camera drawing the test pattern and a
// microphone playing a tone per channel. Both fail as pulled devices while removed.
#pragma once

#include <memory>

#include "capture_backend.h"

std::unique_ptr<VideoCamera> CreatePatternCamera();
std::unique_ptr<Microphone> CreateToneMicrophone();

// The pattern camera's controls: how many steps the square moves per frame, and an offset
// added to every luma (or R, G, B) value, with the id V4L2 gives brightness.
constexpr uint32_t kPatternSpeedControl = 1;
constexpr uint32_t kPatternBrightnessControl = 0x00980900;
