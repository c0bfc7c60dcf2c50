#include "capture_timeline.h"

#include <algorithm>

namespace {

constexpr REFERENCE_TIME kMinimumTolerance = 1000000;  // 100 ms: PipeWire's bursts, USB frame jitter

}  // namespace

REFERENCE_TIME CaptureTimeline::Tolerance() const { return std::max(2 * duration_, kMinimumTolerance); }

bool CaptureTimeline::Stamp(REFERENCE_TIME taken, REFERENCE_TIME runStart, REFERENCE_TIME* start,
                            REFERENCE_TIME* stop, bool* discontinuity)
{
    *discontinuity = false;
    if (taken < runStart) return false;
    if (!started_) {
        started_ = true;
        base_ = taken;
        count_ = 0;
    }
    REFERENCE_TIME next = base_ + REFERENCE_TIME(count_) * duration_;
    if (taken - next > Tolerance()) {
        base_ = taken;
        count_ = 0;
        next = taken;
        *discontinuity = true;
    } else if (next - taken > Tolerance()) {
        return false;
    }
    *start = next;
    *stop = next + duration_;
    ++count_;
    return true;
}
