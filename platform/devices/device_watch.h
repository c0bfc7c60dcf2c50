// The process-wide watch behind devices.h: registered removal windows, the presence of the
// virtual devices, and one thread that waits on the udev monitor and the control file.
#pragma once

// Starts the watching thread once; later calls return at once.
void EnsureDeviceWatch();

// Tells the registered windows that a device went (WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE),
// for losses that udev does not report (a Bluetooth microphone's source).
void PostDeviceRemoval();
