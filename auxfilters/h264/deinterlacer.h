// Progressive frames from interlaced ones with libavfilter's bwdif, one frame out for each
// frame in, for an encoder that codes progressive pictures only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <x264.h>

struct AVFilterGraph;
struct AVFilterContext;
struct AVFrame;

class Deinterlacer {
public:
    // Frames of width x height in the 4:2:0 layout `csp` (X264_CSP_I420, _YV12 or _NV12),
    // times in 100-ns units; the top field is taken as the first.
    static std::unique_ptr<Deinterlacer> Create(int width, int height, int csp, std::string* error);
    ~Deinterlacer();

    // Hands in one frame; bwdif gives it back once it has seen the next one.
    bool Push(const x264_image_t& image, int64_t pts);
    // No frame follows: the last one comes out too.
    void End();
    // Points `picture` at the next progressive I420 frame, valid until the next call; false
    // when none is ready.
    bool Pull(x264_picture_t* picture);

private:
    Deinterlacer() = default;

    int width_ = 0;
    int height_ = 0;
    int csp_ = 0;
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* in_ = nullptr;
    AVFrame* out_ = nullptr;
};
