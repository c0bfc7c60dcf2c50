// The session clock with its day counter, and the outgoing rate summed from the sink's
// WM_RTMP_SENT messages; both advance on the once-a-second clock tick.
#pragma once

#include <cstdint>
#include <string>

// Stream position (100-ns units) as a time of day: "%2.2d:%2.2d:%2.2d".
std::string FormatSessionClock(int64_t position);

class SessionClock {
public:
    std::string clockText = "00:00:00";
    bool show_days = false;
    bool add_day = false;
    int days = 0;
    bool daysVisible = false;

    // One clock tick; `position` is empty when the graph is not active.
    void Tick(const int64_t* position);
    void Reset();
};

class OutgoingRate {
public:
    static constexpr unsigned kWM_RTMP_SENT = 0x0464;
    int32_t realBytesCount = 0;

    // WM_RTMP_SENT: the byte count the sink asked to send, also for a failed send.
    void OnSent(uintptr_t wParam) { realBytesCount += int32_t(wParam); }
    // The clock tick: the measured kbit/s as shown ("0" format), and the counter restarts.
    std::string TakeKbpsText();
};
