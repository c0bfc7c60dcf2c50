// One V4L2 node as the camera code sees it: its ioctls, the wait for a filled buffer and the
// mapping of buffers. The system's nodes wrap a file descriptor; tests put a scripted driver
// behind the same calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class V4l2Wait { Ready, Timeout, Failed };

class V4l2Device {
public:
    virtual ~V4l2Device() = default;
    // As ioctl(2): 0, or -1 with errno set.
    virtual int Ioctl(unsigned long request, void* arg) = 0;
    // Waits up to timeoutMs for a filled buffer; Failed when the node hung up or errs.
    virtual V4l2Wait WaitForFrame(int timeoutMs) = 0;
    // Maps the buffer VIDIOC_QUERYBUF described; nullptr when that fails.
    virtual void* Map(size_t length, uint32_t offset) = 0;
    virtual void Unmap(void* start, size_t length) = 0;
};

// Where the camera list comes from: the system's /dev/videoN nodes, or a scripted set.
class V4l2Nodes {
public:
    virtual ~V4l2Nodes() = default;
    // Node paths in the order of their node numbers.
    virtual std::vector<std::string> Paths() = 0;
    // nullptr (with `error`) when the node cannot be opened.
    virtual std::unique_ptr<V4l2Device> Open(const std::string& path, std::string* error) = 0;
};

V4l2Nodes& SystemV4l2Nodes();
