#include "h264_decode.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

#include "mp4/mp4_writer.h"

namespace {

void Take(AVCodecContext* ctx, AVFrame* frame, DecodedVideo* out)
{
    while (avcodec_receive_frame(ctx, frame) == 0) {
        if (out->frames++ == 0) {
            out->width = frame->width;
            out->height = frame->height;
            out->sarNum = frame->sample_aspect_ratio.num;
            out->sarDen = frame->sample_aspect_ratio.den;
            for (int row = 0; row < frame->height; ++row)
                out->firstLuma.insert(out->firstLuma.end(), frame->data[0] + row * frame->linesize[0],
                                      frame->data[0] + row * frame->linesize[0] + frame->width);
            for (int row = 0; row < frame->height / 2; ++row) {
                out->firstChromaU.insert(out->firstChromaU.end(), frame->data[1] + row * frame->linesize[1],
                                         frame->data[1] + row * frame->linesize[1] + frame->width / 2);
                out->firstChromaV.insert(out->firstChromaV.end(), frame->data[2] + row * frame->linesize[2],
                                         frame->data[2] + row * frame->linesize[2] + frame->width / 2);
            }
        }
        if (frame->decode_error_flags) ++out->errors;
        if (frame->interlaced_frame) ++out->interlaced;
    }
}

}  // namespace

DecodedVideo DecodeH264(const std::vector<uint8_t>& sequenceHeader, const std::vector<std::vector<uint8_t>>& samples)
{
    DecodedVideo out;
    const std::vector<uint8_t> avcc = AvcDecoderConfig(sequenceHeader);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, avcc.data(), avcc.size());
    ctx->extradata_size = static_cast<int>(avcc.size());
    ctx->err_recognition = AV_EF_EXPLODE;
    if (avcc.empty() || avcodec_open2(ctx, codec, nullptr) < 0) {
        out.errors = 1;
        avcodec_free_context(&ctx);
        return out;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    for (const auto& sample : samples) {
        av_new_packet(packet, static_cast<int>(sample.size()));
        std::memcpy(packet->data, sample.data(), sample.size());
        if (avcodec_send_packet(ctx, packet) < 0) ++out.errors;
        av_packet_unref(packet);
        Take(ctx, frame, &out);
    }
    avcodec_send_packet(ctx, nullptr);
    Take(ctx, frame, &out);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return out;
}
