#include "picture_input.h"

#include <libyuv/convert.h>
#include <libyuv/convert_from_argb.h>

namespace {

bool IsPlanar420(PixelLayout layout)
{
    return layout == PixelLayout::I420 || layout == PixelLayout::YV12 || layout == PixelLayout::NV12;
}

}  // namespace

int X264Csp(PixelLayout layout)
{
    return layout == PixelLayout::NV12 ? X264_CSP_NV12 : layout == PixelLayout::YV12 ? X264_CSP_YV12 : X264_CSP_I420;
}

size_t FrameBytes(const VideoInputFormat& f)
{
    if (f.width <= 0 || f.height <= 0 || f.stride <= 0) return 0;
    const size_t luma = static_cast<size_t>(f.stride) * f.height;
    switch (f.layout) {
    case PixelLayout::I420:
    case PixelLayout::YV12:
    case PixelLayout::NV12:
        return luma + 2 * (static_cast<size_t>(f.stride / 2) * ((f.height + 1) / 2));
    case PixelLayout::YV16:
        return luma * 2;
    default:
        return luma;  // packed layouts: one plane
    }
}

PictureInput::PictureInput(const VideoInputFormat& format) : format_(format)
{
    if (!IsPlanar420(format.layout))
        hasConverted_ = x264_picture_alloc(&converted_, X264_CSP_I420, format.width, format.height) == 0;
}

PictureInput::~PictureInput()
{
    if (hasConverted_) x264_picture_clean(&converted_);
}

bool PictureInput::Fill(const uint8_t* data, size_t size, x264_picture_t* pic)
{
    const VideoInputFormat& f = format_;
    if (size < FrameBytes(f)) return false;
    x264_picture_init(pic);
    const int w = f.width;
    const int h = f.height;
    const int s = f.stride;
    const size_t lumaBytes = static_cast<size_t>(s) * h;
    const int chromaStride = s / 2;
    const size_t chromaBytes = static_cast<size_t>(chromaStride) * ((h + 1) / 2);

    if (IsPlanar420(f.layout)) {
        auto* base = const_cast<uint8_t*>(data);
        pic->img.i_csp = X264Csp(f.layout);
        pic->img.i_plane = f.layout == PixelLayout::NV12 ? 2 : 3;
        pic->img.plane[0] = base;
        pic->img.i_stride[0] = s;
        pic->img.plane[1] = base + lumaBytes;
        pic->img.i_stride[1] = f.layout == PixelLayout::NV12 ? s : chromaStride;
        pic->img.plane[2] = base + lumaBytes + chromaBytes;
        pic->img.i_stride[2] = chromaStride;
        return true;
    }
    if (!hasConverted_) return false;

    uint8_t* y = converted_.img.plane[0];
    uint8_t* u = converted_.img.plane[1];
    uint8_t* v = converted_.img.plane[2];
    const int ys = converted_.img.i_stride[0];
    const int us = converted_.img.i_stride[1];
    const int vs = converted_.img.i_stride[2];
    // libyuv flips a bottom-up source when given a negative height.
    const int srcHeight = f.bottomUp ? -h : h;
    int result = -1;
    switch (f.layout) {
    case PixelLayout::YUY2:
        result = libyuv::YUY2ToI420(data, s, y, ys, u, us, v, vs, w, h);
        break;
    case PixelLayout::YVYU:  // YUY2 with the chroma bytes swapped: swap the destination planes
        result = libyuv::YUY2ToI420(data, s, y, ys, v, vs, u, us, w, h);
        break;
    case PixelLayout::UYVY:
        result = libyuv::UYVYToI420(data, s, y, ys, u, us, v, vs, w, h);
        break;
    case PixelLayout::YV16:  // planar 4:2:2, V before U
        result = libyuv::I422ToI420(data, s, data + lumaBytes + lumaBytes / 2, s / 2, data + lumaBytes, s / 2, y, ys,
                                    u, us, v, vs, w, h);
        break;
    case PixelLayout::RGB24:  // DirectShow RGB24 is B,G,R in memory: libyuv's "RGB24"
        result = libyuv::RGB24ToI420(data, s, y, ys, u, us, v, vs, w, srcHeight);
        break;
    case PixelLayout::RGB32:  // B,G,R,A in memory: libyuv's "ARGB"
        result = libyuv::ARGBToI420(data, s, y, ys, u, us, v, vs, w, srcHeight);
        break;
    default:
        break;
    }
    if (result != 0) return false;
    pic->img = converted_.img;
    return true;
}
