// The tone microphone's signal: a steady sine per channel at a different pitch each (440 Hz
// left, 660 Hz right, 880 Hz ... further channels), half full scale before the input level.
// One second of each sine is tabulated; whole-hertz pitches make that second loop seamlessly.
#pragma once

#include <cstdint>
#include <vector>

#include "../com/wintypes.h"

class ToneGenerator {
public:
    ToneGenerator(DWORD sampleRate, WORD channels);

    static uint32_t PitchOfChannel(WORD channel) { return 440 + 220 * channel; }

    // Next `frames` interleaved frames at `level` (0.0 .. 1.0); continues where the last call ended.
    void Render(int16_t* dst, size_t frames, double level);

private:
    DWORD sampleRate_;
    WORD channels_;
    std::vector<int16_t> table_;  // channel-interleaved, sampleRate_ frames
    size_t position_ = 0;
};
