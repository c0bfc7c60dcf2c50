#include "mp4_writer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>

#include "common/libav_log.h"

namespace {

constexpr AVRational kReferenceTime = {1, 10000000};
constexpr int kIoBufferSize = 64 * 1024;

bool CopyExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}

}  // namespace

std::vector<uint8_t> AvcDecoderConfig(const std::vector<uint8_t>& header)
{
    if (header.size() < 2) return {};
    const size_t spsLength = (header[0] << 8) | header[1];
    if (spsLength < 4 || 2 + spsLength + 2 > header.size()) return {};
    const uint8_t* sps = header.data() + 2;
    const size_t ppsLength = (header[2 + spsLength] << 8) | header[3 + spsLength];
    if (ppsLength == 0 || 4 + spsLength + ppsLength > header.size()) return {};
    const uint8_t* pps = sps + spsLength + 2;
    std::vector<uint8_t> record = {0x01, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    record.insert(record.end(), header.begin(), header.begin() + 2 + static_cast<std::ptrdiff_t>(spsLength));
    record.push_back(0x01);
    record.push_back(static_cast<uint8_t>(ppsLength >> 8));
    record.push_back(static_cast<uint8_t>(ppsLength));
    record.insert(record.end(), pps, pps + ppsLength);
    return record;
}

std::unique_ptr<Mp4Writer> Mp4Writer::Create(const std::optional<Mp4VideoTrack>& video,
                                             const std::optional<Mp4AudioTrack>& audio, PositionedWrite write,
                                             std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    if (!video && !audio) return fail("no track to record");
    std::unique_ptr<Mp4Writer> w(new Mp4Writer());
    w->write_ = std::move(write);
    KeepLibavToErrors();
    if (avformat_alloc_output_context2(&w->format_, nullptr, "mp4", nullptr) < 0) return fail("no MP4 muxer");

    if (video) {
        const std::vector<uint8_t> avcc = AvcDecoderConfig(video->sequenceHeader);
        if (avcc.empty()) return fail("the H.264 sequence header holds no SPS and PPS");
        AVStream* st = avformat_new_stream(w->format_, nullptr);
        st->time_base = {1, 90000};
        if (video->frameDuration > 0) st->avg_frame_rate = {10000000, static_cast<int>(video->frameDuration)};
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = AV_CODEC_ID_H264;
        st->codecpar->width = video->width;
        st->codecpar->height = video->height;
        if (!CopyExtradata(st->codecpar, avcc)) return fail("out of memory");
        w->videoStream_ = st->index;
    }
    if (audio) {
        AVStream* st = avformat_new_stream(w->format_, nullptr);
        st->time_base = {1, audio->sampleRate};
        st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        st->codecpar->codec_id = AV_CODEC_ID_AAC;
        st->codecpar->sample_rate = audio->sampleRate;
        av_channel_layout_default(&st->codecpar->ch_layout, audio->channels);
        st->codecpar->bit_rate = audio->bitrate;
        st->codecpar->frame_size = 1024;
        if (!CopyExtradata(st->codecpar, audio->audioSpecificConfig)) return fail("out of memory");
        w->audioStream_ = st->index;
    }

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    w->io_ = avio_alloc_context(buffer, kIoBufferSize, 1, w.get(), nullptr, &Mp4Writer::WritePacket, &Mp4Writer::Seek);
    if (!w->io_) {
        av_free(buffer);
        return fail("out of memory");
    }
    w->format_->pb = w->io_;
    w->format_->flags |= AVFMT_FLAG_CUSTOM_IO;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    // A fragment reaches the file whole or not at all, so its length is what a crash or a
    // stop of the graph (which stops the file writer first) can lose; a quarter second costs
    // under 1 % of the stream in fragment headers.
    av_dict_set(&options, "frag_duration", "250000", 0);
    const int result = avformat_write_header(w->format_, &options);
    av_dict_free(&options);
    if (result < 0) return fail("the MP4 muxer refused the tracks");
    avio_flush(w->io_);
    if (w->failed_) return fail("the file could not be written");
    return w;
}

Mp4Writer::~Mp4Writer()
{
    if (format_) avformat_free_context(format_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

int Mp4Writer::WritePacket(void* opaque, uint8_t* data, int size)
{
    auto* self = static_cast<Mp4Writer*>(opaque);
    if (self->failed_ || !self->write_(self->position_, data, static_cast<size_t>(size))) {
        self->failed_ = true;
        return AVERROR(EIO);
    }
    self->position_ += size;
    self->size_ = std::max(self->size_, self->position_);
    return size;
}

int64_t Mp4Writer::Seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<Mp4Writer*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->size_;
    case SEEK_SET:
        self->position_ = offset;
        break;
    case SEEK_CUR:
        self->position_ += offset;
        break;
    case SEEK_END:
        self->position_ = self->size_ + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    return self->position_;
}

bool Mp4Writer::WriteVideo(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool keyFrame)
{
    if (videoStream_ < 0) return false;
    const AVRational rate = format_->streams[videoStream_]->avg_frame_rate;
    const int64_t duration = rate.num > 0 ? av_rescale(10000000, rate.den, rate.num) : 0;
    return Write(videoStream_, data, size, pts, dts, duration, keyFrame);
}

bool Mp4Writer::WriteAudio(const uint8_t* data, size_t size, int64_t startTime, int64_t stopTime)
{
    if (audioStream_ < 0) return false;
    // A frame stamped without a stop time lasts its codec frame (1024 samples of AAC).
    const AVCodecParameters* codec = format_->streams[audioStream_]->codecpar;
    const int64_t duration = stopTime > startTime
                                 ? stopTime - startTime
                                 : av_rescale(codec->frame_size, 10000000, codec->sample_rate);
    return Write(audioStream_, data, size, startTime, startTime, duration, true);
}

bool Mp4Writer::Write(int stream, const uint8_t* data, size_t size, int64_t pts, int64_t dts, int64_t duration,
                      bool key)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (failed_ || finished_) return false;
    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, static_cast<int>(size)) < 0) {
        av_packet_free(&packet);
        return false;
    }
    std::memcpy(packet->data, data, size);
    const AVRational base = format_->streams[stream]->time_base;
    packet->stream_index = stream;
    packet->pts = av_rescale_q(pts, kReferenceTime, base);
    packet->dts = av_rescale_q(dts, kReferenceTime, base);
    // Rounding to the track's time scale, or a repeated capture time, must not make the
    // muxer refuse the packet: decoding times rise strictly.
    if (packet->dts <= lastDts_[stream]) packet->dts = lastDts_[stream] + 1;
    packet->pts = std::max(packet->pts, packet->dts);
    lastDts_[stream] = packet->dts;
    packet->duration = av_rescale_q(duration, kReferenceTime, base);
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    const int result = av_interleaved_write_frame(format_, packet);
    av_packet_free(&packet);
    avio_flush(io_);  // fragments reach the file as soon as the muxer closes them
    return result >= 0 && !failed_;
}

bool Mp4Writer::Finish()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (finished_) return !failed_;
    finished_ = true;
    if (failed_) return false;
    const int result = av_write_trailer(format_);
    avio_flush(io_);
    return result >= 0 && !failed_;
}
