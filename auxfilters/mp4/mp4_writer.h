// Fragmented MP4 output with libavformat: H.264 and AAC packets in, positioned byte writes
// out. Each key frame, and at the latest a quarter second of media, closes a fragment that is
// handed out at once, so a recording cut off by a crash stays playable up to its last whole
// fragment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;

struct Mp4VideoTrack {
    int width = 0;
    int height = 0;
    int64_t frameDuration = 0;             // 100-ns units
    std::vector<uint8_t> sequenceHeader;   // SPS then PPS, each behind a 16-bit big-endian length
};

struct Mp4AudioTrack {
    int sampleRate = 0;
    int channels = 0;
    int bitrate = 0;                       // bit/s, informative
    std::vector<uint8_t> audioSpecificConfig;
};

// Receives each piece of the file with its byte offset; false stops the recording.
using PositionedWrite = std::function<bool(int64_t offset, const uint8_t* data, size_t size)>;

// The AVCDecoderConfigurationRecord for a sequence header of length-prefixed SPS and PPS,
// empty when the header is malformed.
std::vector<uint8_t> AvcDecoderConfig(const std::vector<uint8_t>& sequenceHeader);

class Mp4Writer {
public:
    static std::unique_ptr<Mp4Writer> Create(const std::optional<Mp4VideoTrack>& video,
                                             const std::optional<Mp4AudioTrack>& audio, PositionedWrite write,
                                             std::string* error);
    ~Mp4Writer();

    // Safe to call from the two inputs' threads at once. Times in 100-ns units.
    bool WriteVideo(const uint8_t* data, size_t size, int64_t presentationTime, int64_t decodingTime, bool keyFrame);
    bool WriteAudio(const uint8_t* data, size_t size, int64_t startTime, int64_t stopTime);
    // Writes the buffered packets and the closing index; the file is complete afterwards.
    bool Finish();

private:
    Mp4Writer() = default;
    bool Write(int stream, const uint8_t* data, size_t size, int64_t pts, int64_t dts, int64_t duration, bool key);
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    std::mutex lock_;
    AVFormatContext* format_ = nullptr;
    AVIOContext* io_ = nullptr;
    PositionedWrite write_;
    int64_t position_ = 0;
    int64_t size_ = 0;
    bool failed_ = false;
    bool finished_ = false;
    int videoStream_ = -1;
    int audioStream_ = -1;
    int64_t lastDts_[2] = {INT64_MIN, INT64_MIN};
};
