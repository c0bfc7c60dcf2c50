#include "aac_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cstdlib>

#include "common/libav_log.h"
#include "common/registry_values.h"

int32_t ReadAacBitrate()
{
    const int32_t bitrate = RegistryDwords(kAacSettingsKey).Get("Bitrate", kDefaultAacBitrate);
    return bitrate > 0 ? bitrate : kDefaultAacBitrate;
}

std::unique_ptr<AacEncoder> AacEncoder::Create(int sampleRate, int channels, int bitrate, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    if (channels < 1 || channels > 2) return fail("AAC takes 1 or 2 channels, not " + std::to_string(channels));
    KeepLibavToErrors();
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return fail("libavcodec has no AAC encoder");
    std::unique_ptr<AacEncoder> e(new AacEncoder());
    e->sampleRate_ = sampleRate;
    e->channels_ = channels;
    e->context_ = avcodec_alloc_context3(codec);
    e->context_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->context_->sample_rate = sampleRate;
    av_channel_layout_default(&e->context_->ch_layout, channels);
    e->context_->bit_rate = bitrate;
    e->context_->time_base = {1, sampleRate};
    e->context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e->context_, codec, nullptr) < 0)
        return fail("the AAC encoder refused " + std::to_string(sampleRate) + " Hz, " + std::to_string(channels) +
                    " channels at " + std::to_string(bitrate) + " bit/s");
    e->config_.assign(e->context_->extradata, e->context_->extradata + e->context_->extradata_size);
    e->frame_ = av_frame_alloc();
    e->frame_->format = AV_SAMPLE_FMT_FLTP;
    e->frame_->nb_samples = e->context_->frame_size;
    av_channel_layout_copy(&e->frame_->ch_layout, &e->context_->ch_layout);
    e->frame_->sample_rate = sampleRate;
    if (av_frame_get_buffer(e->frame_, 0) < 0) return fail("out of memory");
    e->packet_ = av_packet_alloc();
    return e;
}

AacEncoder::~AacEncoder()
{
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

int64_t AacEncoder::SamplesToTime(int64_t samples) const { return originTime_ + samples * 10000000 / sampleRate_; }

bool AacEncoder::Encode(const int16_t* samples, size_t frames, int64_t startTime, std::vector<EncodedFrame>* out)
{
    const int64_t frameTime = static_cast<int64_t>(context_->frame_size) * 10000000 / sampleRate_;
    if (!started_) {
        started_ = true;
        originTime_ = startTime;
    } else if (std::llabs(startTime - SamplesToTime(samplesQueued_)) > frameTime) {
        // A gap or a jump of the capture clock: the time line restarts at this sample.
        originTime_ = startTime - (samplesQueued_ * 10000000 / sampleRate_);
    }
    samplesQueued_ += static_cast<int64_t>(frames);
    pending_.insert(pending_.end(), samples, samples + frames * channels_);
    const size_t frameValues = static_cast<size_t>(context_->frame_size) * channels_;
    size_t offset = 0;
    bool ok = true;
    while (pending_.size() - offset >= frameValues) {
        const int16_t* in = pending_.data() + offset;
        if (av_frame_make_writable(frame_) < 0) return false;
        for (int c = 0; c < channels_; ++c) {
            auto* plane = reinterpret_cast<float*>(frame_->data[c]);
            for (int i = 0; i < context_->frame_size; ++i) plane[i] = in[i * channels_ + c] * (1.0f / 32768.0f);
        }
        // pts in samples: everything queued minus what still follows this frame.
        const int64_t pts = samplesQueued_ - static_cast<int64_t>((pending_.size() - offset) / channels_);
        offset += frameValues;
        ok = SendFrame(pts, out) && ok;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    return ok;
}

bool AacEncoder::SendFrame(int64_t pts, std::vector<EncodedFrame>* out)
{
    frame_->pts = pts;
    if (avcodec_send_frame(context_, frame_) < 0) return false;
    Receive(out);
    return true;
}

void AacEncoder::Flush(std::vector<EncodedFrame>* out)
{
    if (!pending_.empty()) {
        const size_t frameValues = static_cast<size_t>(context_->frame_size) * channels_;
        const size_t real = pending_.size();
        pending_.resize(frameValues, 0);
        samplesQueued_ += static_cast<int64_t>((frameValues - real) / channels_);
        Encode(nullptr, 0, SamplesToTime(samplesQueued_), out);
    }
    avcodec_send_frame(context_, nullptr);
    Receive(out);
}

void AacEncoder::Receive(std::vector<EncodedFrame>* out)
{
    while (avcodec_receive_packet(context_, packet_) == 0) {
        EncodedFrame frame;
        frame.data.assign(packet_->data, packet_->data + packet_->size);
        frame.startTime = SamplesToTime(packet_->pts);
        frame.stopTime = SamplesToTime(packet_->pts + (packet_->duration > 0 ? packet_->duration : context_->frame_size));
        frame.decodingTime = frame.startTime;
        out->push_back(std::move(frame));
        av_packet_unref(packet_);
    }
}
