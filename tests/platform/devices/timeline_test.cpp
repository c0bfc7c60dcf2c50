// Capture time lines for the ways devices really deliver: audio read in bursts, cameras faster
// or slower than their rate, frames that waited in the driver during a pause.
#include <gtest/gtest.h>

#include <cstdlib>

#include "devices/capture_timeline.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;
constexpr REFERENCE_TIME kRunStart = 10000000;  // the graph ran at stream time 1 s

struct Scenario {
    const char* name;
    REFERENCE_TIME duration;
    REFERENCE_TIME (*taken)(int n);  // stream time at which sample n was taken
    int firstDelivered;
};

const Scenario kScenarios[] = {
    // 10 ms buffers whose capture times wobble by up to 11 ms (PipeWire's 21 ms quantum).
    {"audio bursts", 10 * kMs, [](int n) { return kRunStart + n * 10 * kMs + (n % 3 == 1 ? 11 : n % 3 == 2 ? -9 : 0) * kMs; }, 0},
    {"camera faster than its rate", 333333, [](int n) { return kRunStart + REFERENCE_TIME(n) * 300000; }, 0},
    {"camera at half its rate", 333333, [](int n) { return kRunStart + REFERENCE_TIME(n) * 666667; }, 0},
    // Eight frames filled during a pause, read back to back at Run.
    {"backlog at run", 333333, [](int n) { return kRunStart + (n - 8) * REFERENCE_TIME(333333); }, 8},
};

TEST(CaptureTimeline, NeverGoesBackwardsAndStaysWithTheCaptureTimes)
{
    for (const Scenario& s : kScenarios) {
        CaptureTimeline timeline(s.duration);
        REFERENCE_TIME previousStop = 0;
        int first = -1, rebased = 0;
        for (int n = 0; n < 2000; ++n) {
            REFERENCE_TIME taken = s.taken(n), start, stop;
            bool discontinuity;
            if (!timeline.Stamp(taken, kRunStart, &start, &stop, &discontinuity)) continue;
            if (first < 0) first = n;
            else EXPECT_GE(start, previousStop) << s.name << " " << n;
            EXPECT_EQ(stop - start, s.duration);
            EXPECT_LE(std::llabs(start - taken), timeline.Tolerance()) << s.name << " " << n;
            rebased += discontinuity;
            previousStop = stop;
        }
        EXPECT_EQ(first, s.firstDelivered) << s.name;
        // Jitter alone never moves the line.
        if (s.duration == 10 * kMs) EXPECT_EQ(rebased, 0);
    }
}

}  // namespace
