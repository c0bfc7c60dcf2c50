#include "flv_writer.h"

#include <cstring>

#include "amf0.h"
#include "avc.h"
#include "dshow/uuids.h"
#include "rtmp_connection.h"

namespace {

constexpr uint32_t kVideoTagHeader = 5;  // frame type and codec, AVC packet type, composition offset
constexpr uint32_t kAudioTagHeader = 2;  // format byte, AAC packet type
constexpr uint8_t kAvcSequenceHeader = 0x00;
constexpr uint8_t kAvcNalUnits = 0x01;
constexpr uint8_t kAacSequenceHeader = 0x00;
constexpr uint8_t kAacRawFrame = 0x01;

struct VideoFormatFields {
    int32_t width = 0;
    int32_t height = 0;
    REFERENCE_TIME frameDuration = 0;
};

template <class Header>
VideoFormatFields ReadVideoHeader(const AM_MEDIA_TYPE& mediaType)
{
    VideoFormatFields fields;
    if (!mediaType.pbFormat || mediaType.cbFormat < sizeof(Header)) return fields;
    Header header;
    std::memcpy(&header, mediaType.pbFormat, sizeof header);
    fields.width = header.bmiHeader.biWidth;
    fields.height = header.bmiHeader.biHeight;
    fields.frameDuration = header.AvgTimePerFrame;
    return fields;
}

VideoFormatFields ReadVideoFormat(const AM_MEDIA_TYPE& mediaType)
{
    const GUID& format = mediaType.formattype;
    if (format == FORMAT_VideoInfo || format == FORMAT_MPEGVideo) return ReadVideoHeader<VIDEOINFOHEADER>(mediaType);
    if (format == FORMAT_VideoInfo2 || format == FORMAT_MPEG2Video) return ReadVideoHeader<VIDEOINFOHEADER2>(mediaType);
    return {};
}

bool IsAvcSubtype(const GUID& subtype) { return subtype == MEDIASUBTYPE_AVC1 || subtype == MEDIASUBTYPE_H264; }

uint8_t Mp3RateBits(int32_t sampleRate)
{
    switch (sampleRate) {
    case 5500: return 0;
    case 11025: return 1;
    case 22050: return 2;
    default: return 3;
    }
}

}  // namespace

void FLVWriter::Reset()
{
    videoCodec_ = audioCodec_ = kCodecNone;
    frameDuration_ = 0;
    width_ = height_ = 0;
    frameRate_ = 0;
    audioChannels_ = audioSampleRate_ = 0;
    firstSample_ = 1;
    stopped_ = 1;
    connection_ = nullptr;
    videoExtra_ = {};
    audioExtra_ = {};
}

int FLVWriter::AddStream(const AM_MEDIA_TYPE& mediaType)
{
    lastTimestamp_ = 0;
    if (mediaType.majortype == MEDIATYPE_Video) return AddVideoStream(mediaType);
    if (mediaType.majortype == MEDIATYPE_Audio) return AddAudioStream(mediaType);
    return -1;
}

int FLVWriter::AddVideoStream(const AM_MEDIA_TYPE& mediaType)
{
    if (videoCodec_ != kCodecNone) return -1;
    const GUID& subtype = mediaType.subtype;
    if (subtype == MEDIASUBTYPE_FLV1) videoCodec_ = kVideoH263;
    else if (subtype == MEDIASUBTYPE_FLV4) videoCodec_ = kVideoVP6;
    else if (IsAvcSubtype(subtype)) videoCodec_ = kVideoAVC;
    else return -1;
    VideoFormatFields fields = ReadVideoFormat(mediaType);
    width_ = fields.width;
    height_ = fields.height;
    frameDuration_ = fields.frameDuration;
    frameRate_ = frameDuration_ > 0 ? 10000000.0 / static_cast<double>(frameDuration_) : 0;
    return videoExtra_.LoadFromMediaType(mediaType);
}

int FLVWriter::AddAudioStream(const AM_MEDIA_TYPE& mediaType)
{
    if (audioCodec_ != kCodecNone) return -1;
    if (mediaType.subtype == MEDIASUBTYPE_MP3) audioCodec_ = kAudioMP3;
    else if (mediaType.subtype == MEDIASUBTYPE_RAW_AAC1) audioCodec_ = kAudioAAC;
    else return -1;
    if (mediaType.formattype == FORMAT_WaveFormatEx && mediaType.pbFormat &&
        mediaType.cbFormat >= sizeof(WAVEFORMATEX)) {
        WAVEFORMATEX wave;
        std::memcpy(&wave, mediaType.pbFormat, sizeof wave);
        audioChannels_ = wave.nChannels;
        audioSampleRate_ = static_cast<int32_t>(wave.nSamplesPerSec);
    }
    return audioExtra_.LoadFromMediaType(mediaType);
}

void FLVWriter::BeginStream(RTMPConnection* connection)
{
    connection_ = connection;
    if (connection_) {
        connection_->media.width = width_;
        connection_->media.height = height_;
        connection_->media.frameDurationMs = static_cast<int32_t>(frameDuration_ / 10000);
        connection_->media.frameRate = static_cast<int32_t>(frameRate_);
    }
    stopped_ = 0;
}

PacketPtr FLVWriter::PacketFromSample(const uint8_t* data, uint32_t length, const AM_MEDIA_TYPE& mediaType)
{
    bool avc = mediaType.majortype == MEDIATYPE_Video && IsAvcSubtype(mediaType.subtype);
    if (avc && HasStartCode(data, length)) {
        size_t converted = LengthPrefixedSize(data, length);
        PacketPtr packet = CMuxInterPacket::Create(static_cast<uint32_t>(converted));
        ConvertStartCodes(data, length, packet->data);
        packet->length = static_cast<uint32_t>(converted);
        return packet;
    }
    PacketPtr packet = CMuxInterPacket::Create(length);
    if (length) std::memcpy(packet->data, data, length);
    packet->length = length;
    return packet;
}

int FLVWriter::SendSequenceHeaders(Kind kind)
{
    if (!connection_) return -1;
    if (kind == Kind::Video) {
        if (videoExtra_.bytes.empty() || videoCodec_ != kVideoAVC) return -1;
        std::vector<uint8_t> record = BuildAvcConfig(videoExtra_.bytes.data(), videoExtra_.bytes.size());
        if (record.empty()) return -1;
        MessageBuffer buffer(kVideoTagHeader + static_cast<uint32_t>(record.size()));
        uint8_t* body = buffer.Body();
        body[0] = 0x10 | kVideoAVC;
        body[1] = kAvcSequenceHeader;  // composition offset 0 follows
        std::memcpy(body + kVideoTagHeader, record.data(), record.size());
        connection_->SendMediaMessage(RTMP_VIDEO, body, buffer.Capacity(), 0);
    } else {
        if (audioExtra_.bytes.empty() || audioCodec_ != kAudioAAC) return -1;
        MessageBuffer buffer(kAudioTagHeader + static_cast<uint32_t>(audioExtra_.bytes.size()));
        uint8_t* body = buffer.Body();
        body[0] = AudioTagByte();
        body[1] = kAacSequenceHeader;
        std::memcpy(body + kAudioTagHeader, audioExtra_.bytes.data(), audioExtra_.bytes.size());
        connection_->SendMediaMessage(RTMP_AUDIO, body, buffer.Capacity(), 0);
    }
    connection_->SetSendBufferSize(RTMPConnection::kSendBufferSize);
    return 0;
}

uint8_t FLVWriter::VideoTagByte(bool syncPoint) const
{
    return static_cast<uint8_t>((syncPoint ? 0x10 : 0x20) | videoCodec_);
}

// Sound format, then 44 kHz for AAC (FLV's fixed value) or the MP3 rate, 16-bit, stereo bit.
uint8_t FLVWriter::AudioTagByte() const
{
    uint8_t rateBits = audioCodec_ == kAudioAAC ? 3 : Mp3RateBits(audioSampleRate_);
    return static_cast<uint8_t>((audioCodec_ << 4) | (rateBits << 2) | 0x02 | (audioChannels_ == 2 ? 0x01 : 0));
}

uint32_t FLVWriter::WriteSample(CMuxInterPacket& packet, const AM_MEDIA_TYPE& mediaType)
{
    if (!connection_) return 0;
    bool video = mediaType.majortype == MEDIATYPE_Video;
    // Audio by the sample's stop time; an encoder that stamps only a start gets that time here.
    int64_t timestamp = video ? packet.decoding / 10000 : packet.stop / 10000;
    int64_t compositionOffset = video ? packet.presentation / 10000 - timestamp : 0;
    lastTimestamp_ = timestamp;

    if (firstSample_) {
        firstSample_ = 0;
        SendSequenceHeaders(Kind::Video);
        if (connection_->media.hasAudio) SendSequenceHeaders(Kind::Audio);
    }
    if (timestamp < 0) return 0;

    uint8_t* body;
    uint32_t size;
    if (video && videoCodec_ == kVideoAVC) {
        body = packet.data - kVideoTagHeader;
        body[0] = VideoTagByte(packet.syncPoint);
        body[1] = kAvcNalUnits;
        amf::WriteInt24(body + 2, body + 5, static_cast<uint32_t>(compositionOffset) & 0xFFFFFF);
        size = kVideoTagHeader + packet.length;
    } else if (video && videoCodec_ != kCodecNone) {
        body = packet.data - 1;
        body[0] = VideoTagByte(packet.syncPoint);
        size = 1 + packet.length;
    } else if (!video && audioCodec_ == kAudioAAC) {
        body = packet.data - kAudioTagHeader;
        body[0] = AudioTagByte();
        body[1] = kAacRawFrame;
        size = kAudioTagHeader + packet.length;
    } else if (!video && audioCodec_ != kCodecNone) {
        body = packet.data - 1;
        body[0] = AudioTagByte();
        size = 1 + packet.length;
    } else {
        return 0;  // an input without a codec the writer knows
    }
    if (connection_->SendMediaMessage(video ? RTMP_VIDEO : RTMP_AUDIO, body, size, static_cast<uint32_t>(timestamp)))
        connection_->NoteMediaSent();
    return size;
}
