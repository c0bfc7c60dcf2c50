// A V4L2 video capture node as a VideoCamera: capability enumeration (with the fallbacks that
// drivers without size or rate enumeration need), controls, and memory-mapped streaming that
// rides out transient driver errors and a stalled stream.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "v4l2_device.h"

struct V4l2DeviceInfo {
    std::string path;      // /dev/videoN
    std::string card;      // the friendly name
    std::string busInfo;
};

// Streaming capture nodes that offer at least one format we can deliver (an infrared node
// offering only GREY is left out), in node order.
std::vector<V4l2DeviceInfo> ListV4l2Cameras(V4l2Nodes& nodes = SystemV4l2Nodes());

struct V4l2CameraOptions {
    // Without frames for this long the camera restarts streaming once; a second stall of the
    // same length loses the device. Never shorter than three frame intervals.
    int stallMs = 3000;
};

// Reads the node's capability list; nullptr (with `error`) when it is no capture node or
// offers nothing we can deliver.
std::unique_ptr<VideoCamera> OpenV4l2Camera(std::unique_ptr<V4l2Device> device, const std::string& path,
                                            std::string* error, V4l2CameraOptions options = {});
std::unique_ptr<VideoCamera> OpenV4l2Camera(const std::string& path, std::string* error);

// Frame sizes to try inside a stepwise or continuous range, or with VIDIOC_TRY_FMT when the
// driver lists none, smallest first.
std::vector<std::pair<uint32_t, uint32_t>> CommonFrameSizes();
