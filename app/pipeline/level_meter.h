// Audio level meters: the peak of one channel's buffer and the number of lit segments.
#pragma once

#include <cstdint>

// The largest absolute 16-bit little-endian sample among the first length/4 samples (at most
// 65,536); -32768 counts as 32768.
uint16_t PeakOfBuffer(const uint8_t* buffer, long length);

// Segments of a meter panel: height / 6 (30 for 180 pixels).
int MeterSegments(int panelHeight);
// Highest lit segment index: peak / (32768 / n - 1), integer divisions.
int MeterLevel(uint16_t peak, int segments);
