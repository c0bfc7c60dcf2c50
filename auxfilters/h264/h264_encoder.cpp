#include "h264_encoder.h"

#include <algorithm>
#include <numeric>

std::unique_ptr<H264Encoder> H264Encoder::Create(const X264Settings& settings, const VideoInputFormat& input,
                                                 int64_t frameDuration, std::string* error)
{
    if (FrameBytes(input) == 0 || input.width % 2 || input.height % 2) {
        if (error) *error = "unsupported frame size " + std::to_string(input.width) + "x" + std::to_string(input.height);
        return nullptr;
    }
    if (frameDuration <= 0) frameDuration = 333333;
    // fps = 10^7 / duration, reduced.
    const int64_t divisor = std::gcd<int64_t>(10000000, frameDuration);
    x264_param_t param;
    ApplyX264Settings(settings, input.width, input.height, static_cast<uint32_t>(10000000 / divisor),
                      static_cast<uint32_t>(frameDuration / divisor), &param);
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) {
        if (error) *error = "x264 refused the settings";
        return nullptr;
    }
    std::unique_ptr<H264Encoder> result(new H264Encoder(encoder, input, frameDuration));
    result->keyInterval_ = int64_t{param.i_keyint_max} * frameDuration;
    if (settings.interlaced != 0) {
        result->deinterlacer_ = Deinterlacer::Create(input.width, input.height, X264Csp(input.layout), error);
        if (!result->deinterlacer_) return nullptr;
    }

    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_headers(encoder, &nals, &count) < 0) {
        if (error) *error = "x264 gave no headers";
        return nullptr;
    }
    for (int type : {NAL_SPS, NAL_PPS}) {
        for (int i = 0; i < count; ++i) {
            if (nals[i].i_type != type) continue;
            // The payload is behind x264's 4-byte length prefix.
            const int length = nals[i].i_payload - 4;
            result->sequenceHeader_.push_back(static_cast<uint8_t>(length >> 8));
            result->sequenceHeader_.push_back(static_cast<uint8_t>(length));
            result->sequenceHeader_.insert(result->sequenceHeader_.end(), nals[i].p_payload + 4,
                                           nals[i].p_payload + nals[i].i_payload);
        }
    }
    return result;
}

H264Encoder::H264Encoder(x264_t* encoder, const VideoInputFormat& input, int64_t frameDuration)
    : encoder_(encoder), input_(input), frameDuration_(frameDuration)
{
}

H264Encoder::~H264Encoder() { x264_encoder_close(encoder_); }

bool H264Encoder::Encode(const uint8_t* data, size_t size, int64_t startTime, std::vector<EncodedFrame>* out)
{
    x264_picture_t in;
    if (!input_.Fill(data, size, &in)) return false;
    // x264 needs strictly rising times; a repeated capture time becomes one tick later.
    in.i_pts = std::max(startTime, lastPts_ + 1);
    lastPts_ = in.i_pts;
    if (!deinterlacer_) return EncodePicture(&in, out);
    if (!deinterlacer_->Push(in.img, in.i_pts)) return false;
    x264_picture_t progressive;
    while (deinterlacer_->Pull(&progressive))
        if (!EncodePicture(&progressive, out)) return false;
    return true;
}

bool H264Encoder::EncodePicture(x264_picture_t* in, std::vector<EncodedFrame>* out)
{
    // x264 counts the key-frame interval in frames; with frames dropped ahead of the encoder
    // (half frame rate, late frames) that would stretch it in time. A key frame is due once the
    // interval's time has passed since the last one.
    if (in && in->i_pts - lastKeyTime_ >= keyInterval_) {
        in->i_type = X264_TYPE_KEYFRAME;
        lastKeyTime_ = in->i_pts;
    }
    x264_picture_t picture;
    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_encode(encoder_, &nals, &count, in, &picture) < 0) return false;
    Collect(nals, count, picture, out);
    return true;
}

void H264Encoder::Flush(std::vector<EncodedFrame>* out)
{
    if (deinterlacer_) {
        deinterlacer_->End();
        x264_picture_t progressive;
        while (deinterlacer_->Pull(&progressive)) EncodePicture(&progressive, out);
    }
    while (x264_encoder_delayed_frames(encoder_) > 0)
        if (!EncodePicture(nullptr, out)) break;
}

void H264Encoder::Collect(x264_nal_t* nals, int count, const x264_picture_t& picture,
                          std::vector<EncodedFrame>* out)
{
    if (count <= 0) return;
    EncodedFrame frame;
    // x264 lays the NAL units of one frame out back to back.
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) bytes += static_cast<size_t>(nals[i].i_payload);
    frame.data.assign(nals[0].p_payload, nals[0].p_payload + bytes);
    // With B-frames x264 decodes the first frames ahead of their capture, before time zero,
    // which the sink would drop. Only those decoding times move, up to zero and one
    // millisecond apart (an FLV tag's unit, so tag times still rise): every frame keeps its
    // capture time, so the picture stays in step with the sound.
    frame.decodingTime = std::max({picture.i_dts, lastDts_ + kMinDecodingStep, int64_t{0}});
    lastDts_ = frame.decodingTime;
    frame.startTime = std::max(picture.i_pts, frame.decodingTime);
    frame.stopTime = frame.startTime + frameDuration_;
    frame.keyFrame = picture.b_keyframe != 0;
    if (frame.keyFrame) lastKeyTime_ = std::max(lastKeyTime_, picture.i_pts);
    out->push_back(std::move(frame));
}
