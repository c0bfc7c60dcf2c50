#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <cstring>

#include "aac/aac_encoder.h"
#include "test_support.h"

namespace {

std::vector<int16_t> Sine(int rate, int channels, int frames, int offset)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = static_cast<int16_t>(
                std::lround(10000 * std::sin(2 * M_PI * (440.0 * (c + 1)) * (i + offset) / rate)));
    return samples;
}

struct DecodedAudio {
    int errors = 0;
    int channels = 0;
    int rate = 0;
    double rms = 0;
};

DecodedAudio Decode(const AacEncoder& encoder, const std::vector<EncodedFrame>& frames)
{
    DecodedAudio result;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    const auto& asc = encoder.AudioSpecificConfig();
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(asc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, asc.data(), asc.size());
    ctx->extradata_size = static_cast<int>(asc.size());
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double sum = 0;
    long count = 0;
    for (const auto& f : frames) {
        av_new_packet(packet, static_cast<int>(f.data.size()));
        std::memcpy(packet->data, f.data.data(), f.data.size());
        if (avcodec_send_packet(ctx, packet) < 0) ++result.errors;
        av_packet_unref(packet);
        while (avcodec_receive_frame(ctx, frame) == 0) {
            result.channels = frame->ch_layout.nb_channels;
            result.rate = frame->sample_rate;
            for (int i = 0; i < frame->nb_samples; ++i) {
                const float s = reinterpret_cast<const float*>(frame->extended_data[0])[i];
                sum += double(s) * s;
                ++count;
            }
        }
    }
    result.rms = count ? std::sqrt(sum / count) : 0;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return result;
}

}  // namespace

TEST(AacEncoder, BitrateComesFromTheRegistryInBitsPerSecond)
{
    ScratchHome home;
    EXPECT_EQ(ReadAacBitrate(), 128000);
    SetRegistryDword(kAacSettingsKey, "Bitrate", 96000);
    EXPECT_EQ(ReadAacBitrate(), 96000);
}

TEST(AacEncoder, EncodesDecodableFramesAtTheAskedRate)
{
    for (int channels : {2, 1}) {
        SCOPED_TRACE(channels);
        const int rate = 44100, bitrate = 96000, seconds = 5;
        std::string error;
        // libavcodec's own statistics and warnings stay off the host's terminal.
        testing::internal::CaptureStderr();
        auto encoder = AacEncoder::Create(rate, channels, bitrate, &error);
        ASSERT_TRUE(encoder) << error;
        EXPECT_GE(encoder->AudioSpecificConfig().size(), 2u);
        std::vector<EncodedFrame> out;
        // Capture-sized buffers of 10 ms that do not line up with AAC's 1024-sample frames.
        const int chunk = rate / 100;
        const int64_t origin = 5000000;
        for (int at = 0; at < rate * seconds; at += chunk) {
            const auto pcm = Sine(rate, channels, chunk, at);
            ASSERT_TRUE(encoder->Encode(pcm.data(), chunk, origin + int64_t(at) * 10000000 / rate, &out));
        }
        encoder->Flush(&out);
        ASSERT_GT(out.size(), size_t(rate * seconds / 1024));
        size_t bytes = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            bytes += out[i].data.size();
            EXPECT_NEAR(out[i].stopTime - out[i].startTime, 1024 * 10000000LL / rate, 1);
            if (i > 0) EXPECT_NEAR(out[i].startTime, out[i - 1].stopTime, 1);
        }
        // The first frame carries the encoder's priming, one frame before the first sample.
        EXPECT_NEAR(out.front().stopTime, origin, 1);
        EXPECT_NEAR(bytes * 8.0 / seconds, bitrate, bitrate * 0.15);

        const DecodedAudio decoded = Decode(*encoder, out);
        EXPECT_EQ(decoded.errors, 0);
        EXPECT_EQ(decoded.channels, channels);
        EXPECT_EQ(decoded.rate, rate);
        EXPECT_NEAR(decoded.rms, 10000 / 32768.0 / std::sqrt(2.0), 0.03);
        encoder.reset();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

TEST(AacEncoder, RefusesMoreThanTwoChannels)
{
    std::string error;
    EXPECT_FALSE(AacEncoder::Create(48000, 6, 128000, &error));
    EXPECT_NE(error.find("6"), std::string::npos);
}
