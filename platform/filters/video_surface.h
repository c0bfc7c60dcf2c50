// Where the Video Renderer shows its pictures: a host registers a callback for the window
// handle that it gives the renderer as owner (IVideoWindow::put_Owner). The renderer calls it
// on its streaming thread with each frame converted to RGB32 (bytes B, G, R, X; top row first).
#pragma once

#include <cstdint>
#include <functional>

#include "../com/wintypes.h"
#include "../dshow/formats.h"
#include "../winmsg/winmsg.h"

struct VideoSurfaceFrame {
    const uint8_t* pixels;
    int width;
    int height;
    int stride;                     // bytes per row
    REFERENCE_TIME start;           // the sample's start time, 0 without one
    RECT position;                  // SetWindowPosition's rectangle in the owner (left, top, right, bottom)
    bool visible;                   // put_Visible
};

using VideoSurfaceCallback = std::function<void(const VideoSurfaceFrame& frame)>;

// Replaces an earlier registration of the window.
void RegisterVideoSurface(HWND owner, VideoSurfaceCallback callback);
// After this returns, the callback of the window is not running and will not run again.
void UnregisterVideoSurface(HWND owner);
// Calls the window's callback; false when none is registered. Callbacks must not register or
// unregister surfaces.
bool PresentToVideoSurface(HWND owner, const VideoSurfaceFrame& frame);
