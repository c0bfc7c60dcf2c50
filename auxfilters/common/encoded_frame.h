// One compressed frame as an encoder core hands it on.
#pragma once

#include <cstdint>
#include <vector>

struct EncodedFrame {
    std::vector<uint8_t> data;
    int64_t startTime = 0;  // presentation time, 100-ns units
    int64_t stopTime = 0;
    int64_t decodingTime = 0;
    bool keyFrame = true;
};
