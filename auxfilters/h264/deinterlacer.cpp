#include "deinterlacer.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
}

#include <string>

#include "common/libav_log.h"

namespace {

// bwdif rather than yadif: the same motion-adaptive field choice, with cubic interpolation
// between the lines where yadif averages two, so fine detail and slanted edges stay sharper
// at about the same cost. One frame per frame keeps the frame rate, and so the bits per frame.
constexpr const char* kFilter = "bwdif=mode=send_frame:parity=tff:deint=all";

}  // namespace

std::unique_ptr<Deinterlacer> Deinterlacer::Create(int width, int height, int csp, std::string* error)
{
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    std::unique_ptr<Deinterlacer> d(new Deinterlacer());
    d->width_ = width;
    d->height_ = height;
    d->csp_ = csp;
    KeepLibavToErrors();
    d->graph_ = avfilter_graph_alloc();
    d->in_ = av_frame_alloc();
    d->out_ = av_frame_alloc();
    if (!d->graph_ || !d->in_ || !d->out_) return fail("out of memory");
    // NV12 gets its conversion to planar 4:2:0, which bwdif works on, from the graph itself.
    const AVPixelFormat format = csp == X264_CSP_NV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    const std::string args = "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
                             ":pix_fmt=" + std::to_string(format) + ":time_base=1/10000000:pixel_aspect=1/1";
    if (avfilter_graph_create_filter(&d->source_, avfilter_get_by_name("buffer"), "in", args.c_str(), nullptr,
                                     d->graph_) < 0 ||
        avfilter_graph_create_filter(&d->sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                     d->graph_) < 0)
        return fail("libavfilter has no buffer source or sink");
    const AVPixelFormat planar[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
    av_opt_set_int_list(d->sink_, "pix_fmts", planar, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);

    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = d->source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = d->sink_;
    const int parsed = avfilter_graph_parse_ptr(d->graph_, kFilter, &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (parsed < 0 || avfilter_graph_config(d->graph_, nullptr) < 0) return fail("libavfilter refused bwdif");
    return d;
}

Deinterlacer::~Deinterlacer()
{
    av_frame_free(&in_);
    av_frame_free(&out_);
    avfilter_graph_free(&graph_);
}

bool Deinterlacer::Push(const x264_image_t& image, int64_t pts)
{
    // The buffer source copies a frame that owns no buffer, so the caller's planes are only read.
    av_frame_unref(in_);
    in_->width = width_;
    in_->height = height_;
    in_->format = csp_ == X264_CSP_NV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    in_->pts = pts;
    const bool swapped = csp_ == X264_CSP_YV12;  // V before U
    for (int p = 0; p < image.i_plane; ++p) {
        const int to = swapped && p > 0 ? 3 - p : p;
        in_->data[to] = image.plane[p];
        in_->linesize[to] = image.i_stride[p];
    }
    return av_buffersrc_add_frame_flags(source_, in_, 0) >= 0;
}

void Deinterlacer::End() { av_buffersrc_add_frame_flags(source_, nullptr, 0); }

bool Deinterlacer::Pull(x264_picture_t* picture)
{
    av_frame_unref(out_);
    if (av_buffersink_get_frame(sink_, out_) < 0) return false;
    x264_picture_init(picture);
    picture->img.i_csp = X264_CSP_I420;
    picture->img.i_plane = 3;
    for (int p = 0; p < 3; ++p) {
        picture->img.plane[p] = out_->data[p];
        picture->img.i_stride[p] = out_->linesize[p];
    }
    // bwdif counts in half the input's time base, the unit of a field.
    picture->i_pts = av_rescale_q(out_->pts, av_buffersink_get_time_base(sink_), AVRational{1, 10000000});
    return true;
}
