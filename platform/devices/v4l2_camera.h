// A V4L2 video capture node (/dev/videoN) as a VideoCamera: capability enumeration, controls
// and memory-mapped streaming.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture_backend.h"

struct V4l2DeviceInfo {
    std::string path;      // /dev/videoN
    std::string card;      // the friendly name
    std::string busInfo;
};

// Capture nodes (not metadata or output nodes) in the order of their node numbers.
std::vector<V4l2DeviceInfo> ListV4l2Cameras();

// Opens the node and reads its capability list; nullptr (with `error`) when that fails.
std::unique_ptr<VideoCamera> OpenV4l2Camera(const std::string& path, std::string* error);

// Frame sizes to try inside a stepwise or continuous range, smallest first.
std::vector<std::pair<uint32_t, uint32_t>> CommonFrameSizes();
