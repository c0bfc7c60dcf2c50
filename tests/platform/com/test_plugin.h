// The interface and class of the test plug-in library.
#pragma once

#include "com/unknown.h"

constexpr CLSID CLSID_TestCounter = {0x5A1E0001, 0x1234, 0x4321, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
constexpr IID IID_ITestCounter = {0x5A1E0002, 0x1234, 0x4321, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

struct ITestCounter : IUnknown {
    virtual LONG STDMETHODCALLTYPE Increment() = 0;
};
VELTRO_INTERFACE_ID(ITestCounter, IID_ITestCounter);
