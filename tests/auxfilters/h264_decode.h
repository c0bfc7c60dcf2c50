// Decodes the encoder's length-prefixed samples with libavcodec for the tests.
#pragma once

#include <cstdint>
#include <vector>

struct DecodedVideo {
    int frames = 0;
    int errors = 0;
    int interlaced = 0;  // pictures coded as fields or flagged interlaced
    int width = 0;
    int height = 0;
    int sarNum = 0;
    int sarDen = 0;
    std::vector<uint8_t> firstLuma;  // the first decoded picture's Y plane, width x height
    std::vector<uint8_t> firstChromaU, firstChromaV;
};

DecodedVideo DecodeH264(const std::vector<uint8_t>& sequenceHeader, const std::vector<std::vector<uint8_t>>& samples);
