// Small graphs without a graph manager: a push source and a recording sink around the
// filters under test, which are created from their libraries in bin/filters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dshow/amfilter.h"

ComPtr<IBaseFilter> LoadFilter(const std::string& fileName, REFCLSID clsid);
IPin* PinAt(IBaseFilter* filter, int index);  // no reference taken: the filter owns its pins
HRESULT ConnectPins(IPin* out, IPin* in);
void RunAll(const std::vector<IBaseFilter*>& filters);
// Runs the filters on a system clock with stream time 0 now, so that lateness is measured.
void RunAllOnClock(const std::vector<IBaseFilter*>& filters);
void StopAll(const std::vector<IBaseFilter*>& filters);

// Media for the sources: YUY2 video with a VIDEOINFOHEADER2 picture aspect ratio, a moving
// YUY2 picture that differs for every index, 16-bit PCM.
CMediaType Yuy2Type(int width, int height, REFERENCE_TIME frameDuration, DWORD arX, DWORD arY);
std::vector<uint8_t> Yuy2Frame(int width, int height, int index);
std::vector<uint8_t> StereoPcm(int frames, int16_t left, int16_t right);
CMediaType PcmType(DWORD rate, WORD channels);

struct RecordedSample {
    IMediaSample* identity = nullptr;  // for zero-copy checks only, not referenced
    std::vector<uint8_t> bytes;
    REFERENCE_TIME start = 0, stop = 0;
    bool sync = false;
    bool hasEncoderTimes = false;
    REFERENCE_TIME presentation = 0, decoding = 0;
};

// Delivers samples of a fixed media type from the test thread.
class TestSource {
public:
    TestSource(const CMediaType& type, LONG bufferSize);
    ~TestSource();
    IBaseFilter* Filter();
    IPin* Output();
    // `type`, when given, travels on the sample as a change of media type.
    HRESULT Push(const std::vector<uint8_t>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop,
                 const CMediaType* type = nullptr);
    void EndOfStream();

private:
    struct Impl;
    Impl* impl_;
};

// Accepts any type and records every sample; optionally writes positioned samples to a file,
// and then may also offer IStream on its pin for writes into that file in any state.
class TestSink {
public:
    explicit TestSink(const std::string& positionedFile = "", bool offersStream = false);
    ~TestSink();
    IBaseFilter* Filter();
    IPin* Input();
    const CMediaType& Type();
    std::vector<RecordedSample> Samples();
    bool Ended();

private:
    struct Impl;
    Impl* impl_;
};
