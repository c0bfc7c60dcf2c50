// Hands uncompressed frames to x264 with the least work: 4:2:0 layouts go in place, packed
// 4:2:2 and RGB layouts are converted to I420 by libyuv's SIMD row functions.
#pragma once

#include <cstddef>
#include <cstdint>

#include <x264.h>

enum class PixelLayout { I420, YV12, NV12, YUY2, UYVY, YVYU, YV16, RGB24, RGB32 };

struct VideoInputFormat {
    PixelLayout layout = PixelLayout::I420;
    int width = 0;
    int height = 0;          // visible rows, positive
    int stride = 0;          // bytes per row of the first plane (DirectShow: from biWidth)
    bool bottomUp = false;   // RGB with a positive biHeight is stored bottom row first
};

// The x264 colour space that PictureInput hands x264 for this layout.
int X264Csp(PixelLayout layout);

// Bytes of one frame in this layout, or 0 for an impossible format.
size_t FrameBytes(const VideoInputFormat& format);

class PictureInput {
public:
    explicit PictureInput(const VideoInputFormat& format);
    ~PictureInput();
    PictureInput(const PictureInput&) = delete;
    PictureInput& operator=(const PictureInput&) = delete;

    // Points `picture` at the frame's planes, converting first when x264 cannot read the
    // layout directly. False when the buffer is smaller than a frame.
    bool Fill(const uint8_t* data, size_t size, x264_picture_t* picture);

private:
    VideoInputFormat format_;
    x264_picture_t converted_{};
    bool hasConverted_ = false;
};
