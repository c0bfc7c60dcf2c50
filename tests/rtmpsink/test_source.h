// A source filter with an H.264 and an AAC output that deliver pre-encoded units as fast as
// the sink takes them, with the encoder's sample times on every sample, as the encoders do.
#pragma once

#include <atomic>
#include <vector>

#include "dshow/source.h"
#include "flv_file.h"

class TestSource : public CSource {
public:
    // Either list may be empty: that output then does not exist. Paced outputs deliver each
    // unit at its start time after the first, as live encoders do; others as fast as taken.
    TestSource(const std::vector<EncodedUnit>* video, const CMediaType& videoType,
               const std::vector<EncodedUnit>* audio, const CMediaType& audioType, bool paced = false);

    IPin* VideoPin() { return videoPin_; }
    IPin* AudioPin() { return audioPin_; }
    // Every output has delivered its last unit and its end of stream.
    bool Finished() const;

private:
    IPin* videoPin_ = nullptr;
    IPin* audioPin_ = nullptr;
};
