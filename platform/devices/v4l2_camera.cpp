#include "v4l2_camera.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

int Ioctl(int fd, unsigned long request, void* arg)
{
    int r;
    do r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

bool IsCaptureNode(int fd, v4l2_capability* cap)
{
    if (Ioctl(fd, VIDIOC_QUERYCAP, cap) < 0) return false;
    uint32_t caps = (cap->capabilities & V4L2_CAP_DEVICE_CAPS) ? cap->device_caps : cap->capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string Text(const __u8* bytes, size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

// Discrete intervals as listed; a stepwise range as its ends plus the common rates between.
std::vector<V4l2Fraction> EnumerateIntervals(int fd, uint32_t pixelformat, uint32_t width, uint32_t height)
{
    std::vector<V4l2Fraction> intervals;
    v4l2_frmivalenum ival{};
    ival.pixel_format = pixelformat;
    ival.width = width;
    ival.height = height;
    for (ival.index = 0; Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) == 0; ++ival.index) {
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.push_back({ival.discrete.numerator, ival.discrete.denominator});
            continue;
        }
        const auto& lo = ival.stepwise.min;
        const auto& hi = ival.stepwise.max;
        intervals.push_back({lo.numerator, lo.denominator});
        for (uint32_t fps : {60u, 30u, 25u, 15u, 10u, 5u}) {
            // strictly between min and max, compared as fractions
            if (uint64_t(lo.numerator) * fps < lo.denominator && uint64_t(hi.numerator) * fps > hi.denominator)
                intervals.push_back({1, fps});
        }
        intervals.push_back({hi.numerator, hi.denominator});
        break;
    }
    return intervals;
}

std::vector<V4l2FrameSize> EnumerateCapabilities(int fd)
{
    std::vector<V4l2FrameSize> list;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; Ioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
        if (!TraitsOfV4l2(desc.pixelformat)) continue;
        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        for (size.index = 0; Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                uint32_t w = size.discrete.width, h = size.discrete.height;
                list.push_back({desc.pixelformat, w, h, EnumerateIntervals(fd, desc.pixelformat, w, h)});
                continue;
            }
            const auto& s = size.stepwise;
            for (auto [w, h] : CommonFrameSizes()) {
                bool fits = w >= s.min_width && w <= s.max_width && h >= s.min_height && h <= s.max_height &&
                            (s.step_width == 0 || (w - s.min_width) % s.step_width == 0) &&
                            (s.step_height == 0 || (h - s.min_height) % s.step_height == 0);
                if (fits) list.push_back({desc.pixelformat, w, h, EnumerateIntervals(fd, desc.pixelformat, w, h)});
            }
            break;
        }
    }
    return list;
}

struct MappedBuffer {
    void* start = MAP_FAILED;
    size_t length = 0;
};

class V4l2Camera final : public VideoCamera {
public:
    V4l2Camera(int fd, std::vector<VideoFormat> formats) : fd_(fd), formats_(std::move(formats)) {}
    ~V4l2Camera() override
    {
        Stop();
        close(fd_);
    }

    const std::vector<VideoFormat>& Formats() const override { return formats_; }
    bool PacedByDevice() const override { return true; }

    bool Start(const VideoFormat& format, REFERENCE_TIME interval, std::string* error) override
    {
        Stop();
        const auto& traits = TraitsOf(format.pixel);
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = format.width;
        fmt.fmt.pix.height = format.height;
        fmt.fmt.pix.pixelformat = traits.v4l2;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        if (Ioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) return Fail(error, "VIDIOC_S_FMT");
        if (fmt.fmt.pix.width != uint32_t(format.width) || fmt.fmt.pix.height != uint32_t(format.height) ||
            !TraitsOfV4l2(fmt.fmt.pix.pixelformat) || TraitsOfV4l2(fmt.fmt.pix.pixelformat)->format != format.pixel) {
            if (error) *error = "the device changed the format to " + FourCCText(fmt.fmt.pix.pixelformat) + " " +
                                std::to_string(fmt.fmt.pix.width) + "x" + std::to_string(fmt.fmt.pix.height);
            return false;
        }
        format_ = format;
        bytesPerLine_ = fmt.fmt.pix.bytesperline;

        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = uint32_t(interval);
        parm.parm.capture.timeperframe.denominator = 10000000;
        Ioctl(fd_, VIDIOC_S_PARM, &parm);  // drivers without frame-rate control refuse; that is fine

        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (Ioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count == 0) return Fail(error, "VIDIOC_REQBUFS");
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (Ioctl(fd_, VIDIOC_QUERYBUF, &buf) < 0) return Fail(error, "VIDIOC_QUERYBUF");
            MappedBuffer mapped;
            mapped.length = buf.length;
            mapped.start = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
            if (mapped.start == MAP_FAILED) return Fail(error, "mmap");
            buffers_.push_back(mapped);
            if (Ioctl(fd_, VIDIOC_QBUF, &buf) < 0) return Fail(error, "VIDIOC_QBUF");
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Ioctl(fd_, VIDIOC_STREAMON, &type) < 0) return Fail(error, "VIDIOC_STREAMON");
        streaming_ = true;
        return true;
    }

    CaptureResult Capture(uint8_t* dst, size_t capacity, size_t* length, int timeoutMs) override
    {
        pollfd pfd{fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, timeoutMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return CaptureResult::Timeout;
        if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) return CaptureResult::Lost;

        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (Ioctl(fd_, VIDIOC_DQBUF, &buf) < 0)
            return errno == EAGAIN ? CaptureResult::Timeout : CaptureResult::Lost;
        const auto* src = static_cast<const uint8_t*>(buffers_[buf.index].start);
        size_t used = std::min<size_t>(buf.bytesused, buffers_[buf.index].length);
        *length = CopyFrame(src, used, dst, capacity);
        bool corrupted = buf.flags & V4L2_BUF_FLAG_ERROR;
        if (Ioctl(fd_, VIDIOC_QBUF, &buf) < 0) return CaptureResult::Lost;
        return (corrupted || *length == 0) ? CaptureResult::Timeout : CaptureResult::Frame;
    }

    void Stop() override
    {
        if (streaming_) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            Ioctl(fd_, VIDIOC_STREAMOFF, &type);
            streaming_ = false;
        }
        for (auto& b : buffers_) munmap(b.start, b.length);
        if (!buffers_.empty()) {
            buffers_.clear();
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            Ioctl(fd_, VIDIOC_REQBUFS, &req);  // count 0 frees the driver's buffers
        }
    }

    std::vector<DeviceControl> Controls() override
    {
        std::vector<DeviceControl> controls;
        v4l2_queryctrl q{};
        q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
        while (Ioctl(fd_, VIDIOC_QUERYCTRL, &q) == 0) {
            if (!(q.flags & V4L2_CTRL_FLAG_DISABLED)) {
                DeviceControl c;
                c.id = q.id;
                c.name = Text(q.name, sizeof q.name);
                c.minimum = q.minimum;
                c.maximum = q.maximum;
                c.step = q.step;
                c.defaultValue = q.default_value;
                c.value = q.default_value;
                bool known = true;
                switch (q.type) {
                case V4L2_CTRL_TYPE_INTEGER: c.type = DeviceControlType::Integer; break;
                case V4L2_CTRL_TYPE_BOOLEAN: c.type = DeviceControlType::Boolean; break;
                case V4L2_CTRL_TYPE_MENU: c.type = DeviceControlType::Menu; break;
                case V4L2_CTRL_TYPE_BUTTON: c.type = DeviceControlType::Button; break;
                default: known = false;  // classes, strings, 64-bit and compound controls
                }
                if (known) {
                    v4l2_control value{q.id, 0};
                    if (c.type != DeviceControlType::Button && Ioctl(fd_, VIDIOC_G_CTRL, &value) == 0)
                        c.value = value.value;
                    if (c.type == DeviceControlType::Menu) c.menuItems = MenuItems(q);
                    controls.push_back(std::move(c));
                }
            }
            q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
        }
        return controls;
    }

    bool SetControl(uint32_t id, int32_t value) override
    {
        v4l2_control control{id, value};
        return Ioctl(fd_, VIDIOC_S_CTRL, &control) == 0;
    }

private:
    bool Fail(std::string* error, const char* step)
    {
        if (error) *error = std::string(step) + ": " + strerror(errno);
        Stop();
        return false;
    }

    std::vector<std::string> MenuItems(const v4l2_queryctrl& q)
    {
        std::vector<std::string> items;
        for (int32_t i = q.minimum; i <= q.maximum && i >= 0; ++i) {
            v4l2_querymenu menu{};
            menu.id = q.id;
            menu.index = uint32_t(i);
            items.push_back(Ioctl(fd_, VIDIOC_QUERYMENU, &menu) == 0 ? Text(menu.name, sizeof menu.name) : "");
        }
        return items;
    }

    // Device rows (top-down, maybe padded) -> DIB rows; compressed frames are copied as they are.
    size_t CopyFrame(const uint8_t* src, size_t used, uint8_t* dst, size_t capacity)
    {
        const auto& traits = TraitsOf(format_.pixel);
        if (traits.compressed) {
            if (used > capacity) return 0;
            memcpy(dst, src, used);
            return used;
        }
        size_t frameBytes = FrameBytes(format_.pixel, format_.width, format_.height);
        if (frameBytes > capacity) return 0;
        if (traits.bottomUp) {
            DWORD stride = DibStride(format_.pixel, format_.width);
            size_t rowBytes = std::min<size_t>(stride, bytesPerLine_);
            if (size_t(bytesPerLine_) * format_.height > used) return 0;
            for (LONG y = 0; y < format_.height; ++y)
                memcpy(dst + size_t(format_.height - 1 - y) * stride, src + size_t(y) * bytesPerLine_, rowBytes);
            return frameBytes;
        }
        size_t rowBytes = DibStride(format_.pixel, format_.width);
        if (bytesPerLine_ == rowBytes || format_.pixel == PixelFormat::NV12 || format_.pixel == PixelFormat::I420 ||
            format_.pixel == PixelFormat::YV12) {
            // Packed rows, or planar layouts whose padding would need per-plane strides: take as is.
            if (used < frameBytes) return 0;
            memcpy(dst, src, frameBytes);
            return frameBytes;
        }
        if (size_t(bytesPerLine_) * format_.height > used) return 0;
        for (LONG y = 0; y < format_.height; ++y)
            memcpy(dst + size_t(y) * rowBytes, src + size_t(y) * bytesPerLine_, rowBytes);
        return frameBytes;
    }

    int fd_;
    std::vector<VideoFormat> formats_;
    VideoFormat format_{};
    uint32_t bytesPerLine_ = 0;
    std::vector<MappedBuffer> buffers_;
    bool streaming_ = false;
};

}  // namespace

std::vector<std::pair<uint32_t, uint32_t>> CommonFrameSizes()
{
    return {{160, 120}, {320, 240}, {352, 288}, {640, 360}, {640, 480}, {800, 600}, {960, 540},
            {1024, 768}, {1280, 720}, {1280, 960}, {1600, 1200}, {1920, 1080}};
}

std::vector<V4l2DeviceInfo> ListV4l2Cameras()
{
    std::vector<std::pair<int, V4l2DeviceInfo>> found;
    DIR* dir = opendir("/dev");
    if (!dir) return {};
    while (dirent* entry = readdir(dir)) {
        int number;
        char tail;
        if (sscanf(entry->d_name, "video%d%c", &number, &tail) != 1) continue;
        std::string path = std::string("/dev/") + entry->d_name;
        int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (IsCaptureNode(fd, &cap))
            found.push_back({number, {path, Text(cap.card, sizeof cap.card), Text(cap.bus_info, sizeof cap.bus_info)}});
        close(fd);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<V4l2DeviceInfo> list;
    for (auto& f : found) list.push_back(std::move(f.second));
    return list;
}

std::unique_ptr<VideoCamera> OpenV4l2Camera(const std::string& path, std::string* error)
{
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": " + strerror(errno);
        return nullptr;
    }
    v4l2_capability cap{};
    if (!IsCaptureNode(fd, &cap)) {
        if (error) *error = path + " is not a video capture device";
        close(fd);
        return nullptr;
    }
    auto formats = TranslateV4l2Capabilities(EnumerateCapabilities(fd));
    if (formats.empty()) {
        if (error) *error = path + " offers no format we can deliver";
        close(fd);
        return nullptr;
    }
    return std::make_unique<V4l2Camera>(fd, std::move(formats));
}
