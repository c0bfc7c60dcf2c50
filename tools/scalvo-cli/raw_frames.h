// A raw-frame source and sink for driving a video filter in a graph: the source delivers
// frames of one media type read from a stream (or repeats one frame), the sink accepts only
// the media type it was asked for and writes each frame out (or only counts them).
#pragma once

#include <cstdio>
#include <vector>

#include "convert/pixel_format.h"
#include "dshow/amfilter.h"
#include "dshow/source.h"

struct RawFormat {
    PixelFormat format = PixelFormat::YUY2;
    uint32_t width = 0, height = 0;
};

// The VIDEOINFOHEADER media type of a raw picture (top-down RGB as a negative height).
CMediaType RawMediaType(const RawFormat& f, REFERENCE_TIME frameTime);
ULONG RawFrameBytes(const RawFormat& f);

class CRawFrameSource : public CSource {
public:
    // frames = 0: until the input ends; repeatFrame: deliver `frames` copies of it instead
    // (each sample buffer filled with it once).
    CRawFrameSource(const RawFormat& format, FILE* input, uint64_t frames, std::vector<uint8_t> repeatFrame);
    ~CRawFrameSource() override;
    IPin* OutputPin() { return GetPin(0); }

private:
    class Stream;
    Stream* stream_;
};

class CRawFrameSink : public CBaseFilter {
public:
    CRawFrameSink(const RawFormat& format, FILE* output);
    ~CRawFrameSink() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    uint64_t FramesReceived() const;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE Stop() override;

private:
    class Pin;
    // As a renderer, the end of the stream counts once the graph runs: an end that arrives
    // while paused is reported when Run comes.
    void EndOfStream();
    bool endPending_ = false;
    bool endReported_ = false;
    CCritSec lock_;
    Pin* pin_;
};
