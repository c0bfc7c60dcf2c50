#include "video_surface.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_surfacesMutex;  // held while a callback runs, so unregistering waits for it
std::map<HWND, VideoSurfaceCallback>& Surfaces()
{
    static std::map<HWND, VideoSurfaceCallback> surfaces;
    return surfaces;
}

}  // namespace

void RegisterVideoSurface(HWND owner, VideoSurfaceCallback callback)
{
    std::lock_guard lock(g_surfacesMutex);
    Surfaces()[owner] = std::move(callback);
}

void UnregisterVideoSurface(HWND owner)
{
    std::lock_guard lock(g_surfacesMutex);
    Surfaces().erase(owner);
}

bool PresentToVideoSurface(HWND owner, const VideoSurfaceFrame& frame)
{
    std::lock_guard lock(g_surfacesMutex);
    auto it = Surfaces().find(owner);
    if (it == Surfaces().end() || !it->second) return false;
    it->second(frame);
    return true;
}
