// The camera's property page ("Camera"): one control per control the device reports, with the
// device's ranges, steps, menus and defaults, applied to the device as the user moves it, and
// a "Default" button. Apply keeps the values; closing the frame without applying puts the
// values back that the device had when the page was shown. Built with Qt Widgets, so it lives
// in the property frame's library, not in libvplatform.
#pragma once

#include "../com/unknown.h"
#include "devices.h"

// For RegisterBuiltinClass(CLSID_DeviceControlsPage, ...).
HRESULT CreateDeviceControlsPage(IUnknown* outer, REFIID iid, void** ppv);
