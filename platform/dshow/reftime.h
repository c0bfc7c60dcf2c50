// CRefTime: a REFERENCE_TIME (100 ns units) with millisecond helpers.
#pragma once

#include "../com/wintypes.h"

constexpr REFERENCE_TIME UNITS = 10000000;  // per second
constexpr REFERENCE_TIME MILLISECONDS = 10000;

class CRefTime {
public:
    REFERENCE_TIME m_time = 0;

    CRefTime() = default;
    CRefTime(REFERENCE_TIME time) : m_time(time) {}
    operator REFERENCE_TIME&() { return m_time; }
    operator REFERENCE_TIME() const { return m_time; }
    CRefTime& operator+=(const CRefTime& other)
    {
        m_time += other.m_time;
        return *this;
    }
    CRefTime& operator-=(const CRefTime& other)
    {
        m_time -= other.m_time;
        return *this;
    }
    LONG Millisecs() const { return LONG(m_time / MILLISECONDS); }
    REFERENCE_TIME GetUnits() const { return m_time; }
};
