// AAC-LC encoding with libavcodec's native encoder: 16-bit PCM in, raw AAC frames out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/encoded_frame.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

inline constexpr const char* kAacSettingsKey = "Software\\MONOGRAM\\MONOGRAM AAC Encoder";
inline constexpr int32_t kDefaultAacBitrate = 128000;

// "Bitrate" in bit/s from HKCU\Software\MONOGRAM\MONOGRAM AAC Encoder, else 128000.
int32_t ReadAacBitrate();


class AacEncoder {
public:
    static std::unique_ptr<AacEncoder> Create(int sampleRate, int channels, int bitrate, std::string* error);
    ~AacEncoder();

    // The AudioSpecificConfig for the format block's extra bytes.
    const std::vector<uint8_t>& AudioSpecificConfig() const { return config_; }
    int SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }

    // Interleaved 16-bit samples; each output frame is one raw AAC frame. stamped with the time of their first sample. The first call
    // sets the time line; later calls follow it by sample count, so jitter in capture
    // timestamps does not reach the stream, while a gap larger than a frame re-anchors it.
    bool Encode(const int16_t* samples, size_t frames, int64_t startTime, std::vector<EncodedFrame>* out);
    // Pads the last partial frame with silence and drains the encoder.
    void Flush(std::vector<EncodedFrame>* out);

private:
    AacEncoder() = default;
    bool SendFrame(int64_t pts, std::vector<EncodedFrame>* out);
    void Receive(std::vector<EncodedFrame>* out);
    int64_t SamplesToTime(int64_t samples) const;

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int sampleRate_ = 0;
    int channels_ = 0;
    std::vector<uint8_t> config_;
    std::vector<int16_t> pending_;  // interleaved samples not yet a whole frame
    bool started_ = false;
    int64_t originTime_ = 0;       // time of sample 0 of the time line
    int64_t samplesQueued_ = 0;    // samples handed to the encoder plus those pending
};
