// Reads an FLV file made by ffmpeg into the samples an H.264 and an AAC encoder would deliver,
// and the media types that describe them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dshow/mtype.h"

struct EncodedUnit {
    std::vector<uint8_t> data;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    REFERENCE_TIME presentation = 0;
    REFERENCE_TIME decoding = 0;
    bool syncPoint = false;
};

struct EncodedStreams {
    std::vector<EncodedUnit> video;  // in start-code form: 4-byte code first, 3-byte codes after
    std::vector<EncodedUnit> audio;  // raw AAC frames
    std::vector<uint8_t> sequenceHeader;  // 16-bit length + SPS, 16-bit length + PPS
    std::vector<uint8_t> audioSpecificConfig;
};

// Empty streams when the file cannot be read.
EncodedStreams ReadFlvFile(const std::string& path);

CMediaType AvcMediaType(const EncodedStreams& streams, int width, int height, REFERENCE_TIME frameDuration);
CMediaType AacMediaType(const EncodedStreams& streams, int channels, int sampleRate);
