#include "tone.h"

#include <algorithm>
#include <cmath>

ToneGenerator::ToneGenerator(DWORD sampleRate, WORD channels)
    : sampleRate_(sampleRate), channels_(channels), table_(size_t(sampleRate) * channels)
{
    for (size_t n = 0; n < sampleRate; ++n)
        for (WORD c = 0; c < channels; ++c) {
            double phase = 2.0 * M_PI * double(PitchOfChannel(c)) * double(n) / double(sampleRate);
            table_[n * channels + c] = int16_t(std::lround(16384.0 * std::sin(phase)));
        }
}

void ToneGenerator::Render(int16_t* dst, size_t frames, double level)
{
    int32_t gain = int32_t(std::lround(std::clamp(level, 0.0, 1.0) * 32768.0));  // Q15
    for (size_t done = 0; done < frames;) {
        size_t run = std::min(frames - done, size_t(sampleRate_) - position_);
        const int16_t* src = &table_[position_ * channels_];
        int16_t* out = dst + done * channels_;
        for (size_t i = 0; i < run * channels_; ++i) out[i] = int16_t((src[i] * gain) >> 15);
        done += run;
        position_ = (position_ + run) % sampleRate_;
    }
}
