#include "session_clock.h"

#include <cmath>
#include <cstdio>

namespace {

struct TimeOfDay {
    int hours, minutes, seconds;
};

TimeOfDay TimeOfDayOf(int64_t position)
{
    int64_t milliseconds = position / 10000;
    int64_t ofDay = milliseconds % 86400000;
    if (ofDay < 0) ofDay += 86400000;
    int64_t seconds = ofDay / 1000;
    return {int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60)};
}

}  // namespace

std::string FormatSessionClock(int64_t position)
{
    TimeOfDay time = TimeOfDayOf(position);
    char text[16];
    std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d", time.hours, time.minutes, time.seconds);
    return text;
}

void SessionClock::Tick(const int64_t* position)
{
    if (position) clockText = FormatSessionClock(*position);
    if (show_days) {
        if (add_day) {
            add_day = false;
            ++days;
        }
        daysVisible = true;
    }
    if (position) {
        TimeOfDay time = TimeOfDayOf(*position);
        if (time.hours > 22 && time.minutes > 58 && time.seconds > 58) show_days = add_day = true;
    }
}

void SessionClock::Reset()
{
    show_days = add_day = false;
    daysVisible = false;
    days = 0;
    clockText = "00:00:00";
}

std::string OutgoingRate::TakeKbpsText()
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::round(realBytesCount / 128.0));
    realBytesCount = 0;
    return text;
}
