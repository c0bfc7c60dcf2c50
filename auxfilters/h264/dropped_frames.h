// Offered by the H.264 encoder filter: the frames of the current run that reached the encoder
// too late for the live stream and were dropped instead of being queued.
#pragma once

#include "com/unknown.h"

constexpr GUID IID_IDroppedFrames = {0x53EEACFC, 0xB035, 0x4F40, {0x85, 0xFA, 0x60, 0xFE, 0x6D, 0xBD, 0xC6, 0x75}};

struct IDroppedFrames : IUnknown {
    // Frames dropped since the filter last started streaming.
    virtual HRESULT STDMETHODCALLTYPE GetDroppedFrames(ULONGLONG* count) = 0;
};
VELTRO_INTERFACE_ID(IDroppedFrames, IID_IDroppedFrames);
