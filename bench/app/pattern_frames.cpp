// Writes the virtual camera's YUY2 frames to stdout, so that a peer encoder can be fed the very
// picture the broadcaster encodes: pattern_frames WIDTH HEIGHT FRAMES.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "devices/test_pattern.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: pattern_frames WIDTH HEIGHT FRAMES\n");
        return 2;
    }
    const LONG width = std::atol(argv[1]), height = std::atol(argv[2]);
    const long frames = std::atol(argv[3]);
    if (width <= 0 || height <= 0 || frames < 0) return 2;
    TestPattern pattern(PixelFormat::YUY2, width, height);
    std::vector<uint8_t> frame(pattern.FrameSize());
    for (long i = 0; i < frames; ++i) {
        pattern.Render(uint64_t(i), kDefaultPatternSpeed, frame.data());
        if (std::fwrite(frame.data(), 1, frame.size(), stdout) != frame.size()) return 1;
    }
    return 0;
}
