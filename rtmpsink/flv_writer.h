// Turns queued samples into FLV tag bodies and sends them as RTMP audio and video messages,
// each stream's sequence header first.
#pragma once

#include <cstdint>
#include <vector>

#include "dshow/formats.h"
#include "mux_packet.h"

class RTMPConnection;

// The codec configuration a media type's format block carries.
struct ExtraData {
    std::vector<uint8_t> bytes;
    // Fails for format types without such bytes; lengths are bounded by the format block.
    int LoadFromMediaType(const AM_MEDIA_TYPE& mediaType);
};

class FLVWriter {
public:
    static constexpr int32_t kCodecNone = -1;
    static constexpr int32_t kVideoH263 = 2;  // FLV1
    static constexpr int32_t kVideoVP6 = 4;   // FLV4
    static constexpr int32_t kVideoAVC = 7;
    static constexpr int32_t kAudioMP3 = 2;
    static constexpr int32_t kAudioAAC = 10;
    enum class Kind { Video, Audio };

    void Reset();
    int AddStream(const AM_MEDIA_TYPE& mediaType);
    void BeginStream(RTMPConnection* connection);
    // Builds the tag in front of the packet's bytes and sends it; returns the body size built.
    // The packet's bytes are changed.
    uint32_t WriteSample(CMuxInterPacket& packet, const AM_MEDIA_TYPE& mediaType);
    int SendSequenceHeaders(Kind kind);

    // Copies a sample into a new packet: the one copy of its bytes before they are sent.
    // H.264 samples in start-code form become length-prefixed on the way.
    static PacketPtr PacketFromSample(const uint8_t* data, uint32_t length, const AM_MEDIA_TYPE& mediaType);

    void SetStopped() { stopped_ = 1; }
    bool IsStopped() const { return stopped_ != 0; }
    int32_t VideoCodec() const { return videoCodec_; }
    int32_t AudioCodec() const { return audioCodec_; }
    int64_t LastTimestamp() const { return lastTimestamp_; }

private:
    int AddVideoStream(const AM_MEDIA_TYPE& mediaType);
    int AddAudioStream(const AM_MEDIA_TYPE& mediaType);
    uint8_t VideoTagByte(bool syncPoint) const;
    uint8_t AudioTagByte() const;

    int32_t videoCodec_ = kCodecNone;
    int32_t audioCodec_ = kCodecNone;
    REFERENCE_TIME frameDuration_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    double frameRate_ = 0;
    int32_t audioChannels_ = 0;
    int32_t audioSampleRate_ = 0;
    uint8_t firstSample_ = 1;
    uint8_t stopped_ = 1;
    RTMPConnection* connection_ = nullptr;
    ExtraData videoExtra_;
    ExtraData audioExtra_;
    int64_t lastTimestamp_ = 0;
};
