// Live H.264 encoding with libx264: frames in, length-prefixed access units out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/encoded_frame.h"
#include "deinterlacer.h"
#include "picture_input.h"
#include "x264_settings.h"


class H264Encoder {
public:
    // frameDuration in 100-ns units (AvgTimePerFrame); 0 is taken as 30 fps. Pixels are square.
    static std::unique_ptr<H264Encoder> Create(const X264Settings& settings, const VideoInputFormat& input,
                                               int64_t frameDuration, std::string* error);
    ~H264Encoder();

    // SPS then PPS, each behind its 16-bit big-endian length.
    const std::vector<uint8_t>& SequenceHeader() const { return sequenceHeader_; }
    int64_t FrameDuration() const { return frameDuration_; }

    // Encodes one frame stamped `startTime`, deinterlaced first when the settings say so;
    // finished frames (possibly none, possibly several), each a run of NAL units behind
    // 4-byte big-endian lengths, are appended to `out`. False on a frame that x264, the
    // converter or the deinterlacer refused.
    bool Encode(const uint8_t* data, size_t size, int64_t startTime, std::vector<EncodedFrame>* out);
    // Drains the frames x264 still holds (end of stream).
    void Flush(std::vector<EncodedFrame>* out);

private:
    H264Encoder(x264_t* encoder, const VideoInputFormat& input, int64_t frameDuration);
    bool EncodePicture(x264_picture_t* in, std::vector<EncodedFrame>* out);
    void Collect(x264_nal_t* nals, int count, const x264_picture_t& picture, std::vector<EncodedFrame>* out);

    x264_t* encoder_;
    PictureInput input_;
    std::unique_ptr<Deinterlacer> deinterlacer_;  // when the settings ask for it
    int64_t frameDuration_;
    std::vector<uint8_t> sequenceHeader_;
    int64_t lastPts_ = INT64_MIN;
    int64_t lastDts_ = INT64_MIN;
    static constexpr int64_t kMinDecodingStep = 10000;  // 1 ms
    int64_t keyInterval_ = 0;                          // key-frame interval, 100-ns units
    int64_t lastKeyTime_ = INT64_MIN / 2;
};
