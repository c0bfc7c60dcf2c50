#include "device_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "devices.h"

namespace {

std::mutex gWindowsLock;
std::vector<HWND> gWindows;
std::atomic<bool> gPresent[2] = {true, true};

// A device node worth a notification: a video node, or a whole sound card (its pcm and
// control nodes go with it and would only repeat the message).
bool IsCaptureDeviceRemoval(udev_device* device)
{
    const char* action = udev_device_get_action(device);
    const char* subsystem = udev_device_get_subsystem(device);
    const char* sysname = udev_device_get_sysname(device);
    if (!action || !subsystem || !sysname || strcmp(action, "remove") != 0) return false;
    if (strcmp(subsystem, "video4linux") == 0) return true;
    return strcmp(subsystem, "sound") == 0 && strncmp(sysname, "card", 4) == 0;
}

void ApplyControlFile(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string device, state;
        words >> device >> state;
        bool present = state == "present";
        if (!present && state != "removed") continue;
        if (device == "camera") SetVirtualDevicePresent(VirtualDevice::Camera, present);
        if (device == "microphone") SetVirtualDevicePresent(VirtualDevice::Microphone, present);
    }
}

void WatchLoop(udev* context, udev_monitor* monitor, int inotifyFd, std::string controlPath)
{
    std::string controlName = controlPath.substr(controlPath.rfind('/') + 1);
    for (;;) {
        pollfd fds[2] = {{monitor ? udev_monitor_get_fd(monitor) : -1, POLLIN, 0}, {inotifyFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents & POLLIN) {
            if (udev_device* device = udev_monitor_receive_device(monitor)) {
                if (IsCaptureDeviceRemoval(device)) PostDeviceRemoval();
                udev_device_unref(device);
            }
        }
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char buffer[4096];
            ssize_t n = read(inotifyFd, buffer, sizeof buffer);
            bool touched = false;
            for (ssize_t at = 0; at < n;) {
                auto* event = reinterpret_cast<inotify_event*>(buffer + at);
                if (event->len && controlName == event->name) touched = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
            if (touched) ApplyControlFile(controlPath);
        }
    }
    (void)context;
}

void StartWatch()
{
    udev* context = udev_new();
    udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (monitor &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor, "video4linux", nullptr) < 0 ||
         udev_monitor_filter_add_match_subsystem_devtype(monitor, "sound", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor) < 0)) {
        udev_monitor_unref(monitor);
        monitor = nullptr;  // no udev here (containers): virtual devices still report removals
    }
    std::string controlPath = VirtualDeviceControlPath();
    std::string folder = controlPath.substr(0, controlPath.rfind('/'));
    int inotifyFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotifyFd >= 0 && inotify_add_watch(inotifyFd, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        close(inotifyFd);
        inotifyFd = -1;
    }
    if (!monitor && inotifyFd < 0) return;
    // Lives as long as the process: hosts may register windows at any time.
    std::thread(WatchLoop, context, monitor, inotifyFd, controlPath).detach();
}

}  // namespace

void PostDeviceRemoval()
{
    std::lock_guard<std::mutex> lock(gWindowsLock);
    for (HWND window : gWindows) PostMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
}

void EnsureDeviceWatch()
{
    static std::once_flag once;
    std::call_once(once, StartWatch);
}

void RegisterDeviceRemovalWindow(HWND window)
{
    EnsureDeviceWatch();
    std::lock_guard<std::mutex> lock(gWindowsLock);
    if (window && std::find(gWindows.begin(), gWindows.end(), window) == gWindows.end()) gWindows.push_back(window);
}

void UnregisterDeviceRemovalWindow(HWND window)
{
    std::lock_guard<std::mutex> lock(gWindowsLock);
    gWindows.erase(std::remove(gWindows.begin(), gWindows.end(), window), gWindows.end());
}

bool VirtualDevicesEnabled()
{
    const char* value = getenv("VELTRO_VIRTUAL_DEVICES");
    return value && strcmp(value, "1") == 0;
}

bool IsVirtualDevicePresent(VirtualDevice device) { return gPresent[int(device)].load(); }

void SetVirtualDevicePresent(VirtualDevice device, bool present)
{
    bool was = gPresent[int(device)].exchange(present);
    if (was && !present) PostDeviceRemoval();
}

std::string VirtualDeviceControlPath()
{
    if (const char* path = getenv("VELTRO_VIRTUAL_DEVICE_CONTROL"); path && *path) return path;
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/veltro-virtual-devices";
    return "/tmp/veltro-virtual-devices-" + std::to_string(getuid());
}
