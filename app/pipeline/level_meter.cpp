#include "level_meter.h"

#include <algorithm>

uint16_t PeakOfBuffer(const uint8_t* buffer, long length)
{
    if (!buffer || length <= 0) return 0;
    long count = length / 2 > 65536 ? 65536 : length / 4;
    int peak = 0;
    for (long i = 0; i < count; ++i) {
        int16_t sample = int16_t(uint16_t(buffer[2 * i]) | uint16_t(buffer[2 * i + 1]) << 8);
        peak = std::max(peak, sample < 0 ? -int(sample) : int(sample));
    }
    return uint16_t(peak);
}

int MeterSegments(int panelHeight) { return panelHeight / 6; }

int MeterLevel(uint16_t peak, int segments)
{
    int divisor = segments > 0 ? 32768 / segments - 1 : 0;
    return divisor > 0 ? peak / divisor : 0;
}
