// The time line of a capture stream whose device tells when it took each sample. Samples are
// stamped back to back, each starting where the previous one stopped, so that the device's
// jitter (audio read in bursts, USB frames arriving unevenly) never reaches the stamps. The
// line follows the capture times only when they drift well beyond jitter, and never
// backwards: when samples come late it jumps forward, leaving a gap; when they come early
// (a device faster than its rate) the early sample is dropped. Samples taken before the
// stream last started running (frames that waited in the driver during a pause) are dropped.
#pragma once

#include <cstdint>

#include "../com/wintypes.h"

class CaptureTimeline {
public:
    explicit CaptureTimeline(REFERENCE_TIME duration = 0) : duration_(duration) {}

    // Drift from the capture times beyond which the line follows them.
    REFERENCE_TIME Tolerance() const;

    // A sample taken at stream time `taken`, the stream having last started running at stream
    // time `runStart`. False: drop the sample.
    bool Stamp(REFERENCE_TIME taken, REFERENCE_TIME runStart, REFERENCE_TIME* start, REFERENCE_TIME* stop,
               bool* discontinuity);

private:
    REFERENCE_TIME duration_;
    REFERENCE_TIME base_ = 0;  // start of sample 0 of the current run of back-to-back samples
    uint64_t count_ = 0;       // samples stamped since base_
    bool started_ = false;
};
