#include "v4l2_camera.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "../dshow/refclock.h"

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

constexpr uint32_t kBufferCount = 4;

bool IsCaptureNode(V4l2Device& device, v4l2_capability* cap)
{
    if (device.Ioctl(VIDIOC_QUERYCAP, cap) < 0) return false;
    uint32_t caps = (cap->capabilities & V4L2_CAP_DEVICE_CAPS) ? cap->device_caps : cap->capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string Text(const __u8* bytes, size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

bool IsFraction(const v4l2_fract& f) { return f.numerator != 0 && f.denominator != 0; }

// The frame period of a driver that lists none: its current one, else its video standard's,
// else 30 frames a second.
V4l2Fraction CurrentInterval(V4l2Device& device)
{
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.Ioctl(VIDIOC_G_PARM, &parm) == 0 && IsFraction(parm.parm.capture.timeperframe))
        return {parm.parm.capture.timeperframe.numerator, parm.parm.capture.timeperframe.denominator};
    v4l2_std_id standard = 0;
    if (device.Ioctl(VIDIOC_G_STD, &standard) == 0) {
        if (standard & V4L2_STD_525_60) return {1001, 30000};
        if (standard & V4L2_STD_625_50) return {1, 25};
    }
    return {1, 30};
}

// Discrete intervals as listed; a stepwise range as its ends plus the common rates between;
// the current interval when the driver lists none.
std::vector<V4l2Fraction> EnumerateIntervals(V4l2Device& device, uint32_t pixelformat, uint32_t width, uint32_t height)
{
    std::vector<V4l2Fraction> intervals;
    v4l2_frmivalenum ival{};
    ival.pixel_format = pixelformat;
    ival.width = width;
    ival.height = height;
    for (ival.index = 0; device.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &ival) == 0; ++ival.index) {
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
    if (intervals.empty()) intervals.push_back(CurrentInterval(device));
    return intervals;
}

// Sizes of a driver that does not enumerate them (analog grabbers): the current size and the
// common sizes that VIDIOC_TRY_FMT leaves as asked; the current size alone without TRY_FMT.
std::vector<std::pair<uint32_t, uint32_t>> ProbeSizes(V4l2Device& device, uint32_t pixelformat)
{
    std::vector<std::pair<uint32_t, uint32_t>> candidates, sizes;
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.Ioctl(VIDIOC_G_FMT, &current) == 0 && current.fmt.pix.width && current.fmt.pix.height)
        candidates.push_back({current.fmt.pix.width, current.fmt.pix.height});
    for (auto size : CommonFrameSizes()) candidates.push_back(size);
    for (auto [w, h] : candidates) {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = w;
        fmt.fmt.pix.height = h;
        fmt.fmt.pix.pixelformat = pixelformat;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (device.Ioctl(VIDIOC_TRY_FMT, &fmt) < 0) {
            if (errno != ENOTTY) continue;
            sizes.clear();
            if (current.fmt.pix.width && current.fmt.pix.height) sizes.push_back(candidates.front());
            break;
        }
        bool kept = fmt.fmt.pix.pixelformat == pixelformat && fmt.fmt.pix.width == w && fmt.fmt.pix.height == h;
        if (kept && std::find(sizes.begin(), sizes.end(), std::make_pair(w, h)) == sizes.end()) sizes.push_back({w, h});
    }
    return sizes;
}

std::vector<V4l2FrameSize> EnumerateCapabilities(V4l2Device& device)
{
    std::vector<V4l2FrameSize> list;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; device.Ioctl(VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
        if (!TraitsOfV4l2(desc.pixelformat)) continue;
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        bool enumerated = false;
        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        for (size.index = 0; device.Ioctl(VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            enumerated = true;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.push_back({size.discrete.width, size.discrete.height});
                continue;
            }
            const auto& s = size.stepwise;
            for (auto [w, h] : CommonFrameSizes()) {
                bool fits = w >= s.min_width && w <= s.max_width && h >= s.min_height && h <= s.max_height &&
                            (s.step_width == 0 || (w - s.min_width) % s.step_width == 0) &&
                            (s.step_height == 0 || (h - s.min_height) % s.step_height == 0);
                if (fits) sizes.push_back({w, h});
            }
            break;
        }
        if (!enumerated) sizes = ProbeSizes(device, desc.pixelformat);
        for (auto [w, h] : sizes)
            list.push_back({desc.pixelformat, w, h, EnumerateIntervals(device, desc.pixelformat, w, h)});
    }
    return list;
}

// One plane's rows: where they lie in the driver's buffer and where they go in the sample.
struct PlaneRows {
    size_t srcOffset, srcStride;
    size_t dstOffset, dstStride;
    size_t rowBytes, rows;
    bool bottomUp;

    size_t SourceEnd() const { return srcOffset + srcStride * (rows - 1) + rowBytes; }
};

// The planes of an uncompressed format as a single-plane V4L2 buffer lays them out (chroma
// planes follow the luma plane; planar 4:2:0 chroma rows are half the luma's bytesperline) and
// as the sample carries them (tight rows, DIB rows for RGB).
std::vector<PlaneRows> PlanesOf(PixelFormat pixel, LONG width, LONG height, size_t bytesPerLine)
{
    const size_t w = size_t(width), h = size_t(height), cw = (w + 1) / 2, ch = (h + 1) / 2;
    const size_t luma = bytesPerLine * h;
    switch (pixel) {
    case PixelFormat::NV12:
        return {{0, bytesPerLine, 0, w, w, h, false}, {luma, bytesPerLine, w * h, 2 * cw, 2 * cw, ch, false}};
    case PixelFormat::I420:
    case PixelFormat::YV12: {
        const size_t chroma = bytesPerLine / 2;
        return {{0, bytesPerLine, 0, w, w, h, false},
                {luma, chroma, w * h, cw, cw, ch, false},
                {luma + chroma * ch, chroma, w * h + cw * ch, cw, cw, ch, false}};
    }
    default: {
        const auto& traits = TraitsOf(pixel);
        return {{0, bytesPerLine, 0, DibStride(pixel, width), w * traits.bitCount / 8, h, traits.bottomUp}};
    }
    }
}

REFERENCE_TIME TimevalTime(const timeval& t) { return REFERENCE_TIME(t.tv_sec) * 10000000 + t.tv_usec * 10; }

struct MappedBuffer {
    void* start = nullptr;
    size_t length = 0;
};

class V4l2Camera final : public VideoCamera {
public:
    V4l2Camera(std::unique_ptr<V4l2Device> device, std::vector<VideoFormat> formats, V4l2CameraOptions options)
        : device_(std::move(device)), formats_(std::move(formats)), options_(options)
    {
    }
    ~V4l2Camera() override { Stop(); }

    const std::vector<VideoFormat>& Formats() const override { return formats_; }
    bool PacedByDevice() const override { return true; }

    bool Start(const VideoFormat& format, REFERENCE_TIME* interval, std::string* error) override
    {
        Stop();
        // Ask for the code the device listed: a substitute for an alias it does not know
        // would come back as some other format.
        uint32_t code = format.deviceCode ? format.deviceCode : TraitsOf(format.pixel).v4l2;
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = format.width;
        fmt.fmt.pix.height = format.height;
        fmt.fmt.pix.pixelformat = code;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (device_->Ioctl(VIDIOC_S_FMT, &fmt) < 0) return Fail(error, "VIDIOC_S_FMT");
        const PixelFormatTraits* got = TraitsOfV4l2(fmt.fmt.pix.pixelformat);
        if (fmt.fmt.pix.width != uint32_t(format.width) || fmt.fmt.pix.height != uint32_t(format.height) || !got ||
            got->format != format.pixel) {
            if (error) *error = "the device changed the format to " + FourCCText(fmt.fmt.pix.pixelformat) + " " +
                                std::to_string(fmt.fmt.pix.width) + "x" + std::to_string(fmt.fmt.pix.height);
            return false;
        }
        format_ = format;
        if (!TakeLayout(fmt.fmt.pix.bytesperline, error)) return false;
        *interval = SetInterval(*interval);
        interval_ = *interval;
        if (!AllocateBuffers(error) || !StartStreaming(error)) return false;
        lastFrame_ = lastAsked_ = std::chrono::steady_clock::now();
        restarted_ = false;
        return true;
    }

    CaptureResult Capture(uint8_t* dst, size_t capacity, int timeoutMs, size_t* length, REFERENCE_TIME* taken) override
    {
        // The stall clock runs only while frames are asked for, not through a pause.
        auto asked = std::chrono::steady_clock::now();
        if (asked - lastAsked_ > StallLimit()) lastFrame_ = asked;
        lastAsked_ = asked;
        V4l2Wait wait = device_->WaitForFrame(timeoutMs);
        if (wait == V4l2Wait::Failed) return CaptureResult::Lost;
        if (wait == V4l2Wait::Timeout) return NoFrame();

        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (device_->Ioctl(VIDIOC_DQBUF, &buf) < 0) {
            // EIO: the driver lost the signal for a moment; the stall watch covers a longer loss.
            if (errno == EAGAIN || errno == EIO) return NoFrame();
            return CaptureResult::Lost;
        }
        if (buf.index >= buffers_.size()) return CaptureResult::Lost;
        const auto* src = static_cast<const uint8_t*>(buffers_[buf.index].start);
        size_t used = std::min<size_t>(buf.bytesused, buffers_[buf.index].length);
        *length = (buf.flags & V4L2_BUF_FLAG_ERROR) ? 0 : CopyFrame(src, used, dst, capacity);
        bool monotonic = (buf.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        *taken = monotonic ? TimevalTime(buf.timestamp) : CSystemClock::Now();
        if (device_->Ioctl(VIDIOC_QBUF, &buf) < 0) return CaptureResult::Lost;
        if (*length == 0) return NoFrame();
        lastFrame_ = std::chrono::steady_clock::now();
        restarted_ = false;
        return CaptureResult::Frame;
    }

    void Stop() override
    {
        if (streaming_) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            device_->Ioctl(VIDIOC_STREAMOFF, &type);
            streaming_ = false;
        }
        for (auto& b : buffers_) device_->Unmap(b.start, b.length);
        buffers_.clear();
        if (requested_) {
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            device_->Ioctl(VIDIOC_REQBUFS, &req);  // count 0 frees the driver's buffers
            requested_ = false;
        }
    }

    std::vector<DeviceControl> Controls() override
    {
        std::vector<DeviceControl> controls;
        v4l2_queryctrl q{};
        q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
        while (device_->Ioctl(VIDIOC_QUERYCTRL, &q) == 0) {
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
                    if (c.type != DeviceControlType::Button && device_->Ioctl(VIDIOC_G_CTRL, &value) == 0)
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
        return device_->Ioctl(VIDIOC_S_CTRL, &control) == 0;
    }

private:
    bool Fail(std::string* error, const std::string& step)
    {
        if (error) *error = step + ": " + strerror(errno);
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
            items.push_back(device_->Ioctl(VIDIOC_QUERYMENU, &menu) == 0 ? Text(menu.name, sizeof menu.name) : "");
        }
        return items;
    }

    // The driver's row length must hold a row: a shorter one would repeat rows and a frame
    // would be read past its end. 0 means rows without padding.
    bool TakeLayout(uint32_t bytesPerLine, std::string* error)
    {
        planes_.clear();
        frameEnd_ = 0;
        if (TraitsOf(format_.pixel).compressed) return true;
        const size_t row = PlanesOf(format_.pixel, format_.width, format_.height, 0)[0].rowBytes;
        planes_ = PlanesOf(format_.pixel, format_.width, format_.height, bytesPerLine ? bytesPerLine : row);
        for (const PlaneRows& plane : planes_) {
            if (plane.srcStride < plane.rowBytes) {
                if (error) *error = "the device reports " + std::to_string(bytesPerLine) + " bytes per line for rows of " +
                                    std::to_string(row) + " bytes";
                planes_.clear();
                return false;
            }
            frameEnd_ = std::max(frameEnd_, plane.SourceEnd());
        }
        return true;
    }

    // Asks for `wanted` and returns the interval the device runs at.
    REFERENCE_TIME SetInterval(REFERENCE_TIME wanted)
    {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = uint32_t(wanted);
        parm.parm.capture.timeperframe.denominator = 10000000;
        if (device_->Ioctl(VIDIOC_S_PARM, &parm) == 0 && IsFraction(parm.parm.capture.timeperframe))
            return IntervalFromFraction(parm.parm.capture.timeperframe.numerator,
                                        parm.parm.capture.timeperframe.denominator);
        // Drivers without rate control run at their own.
        V4l2Fraction current = CurrentInterval(*device_);
        return IntervalFromFraction(current.numerator, current.denominator);
    }

    bool AllocateBuffers(std::string* error)
    {
        v4l2_requestbuffers req{};
        req.count = kBufferCount;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (device_->Ioctl(VIDIOC_REQBUFS, &req) < 0) return Fail(error, "VIDIOC_REQBUFS");
        requested_ = true;
        if (req.count == 0) return Fail(error, "VIDIOC_REQBUFS");
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (device_->Ioctl(VIDIOC_QUERYBUF, &buf) < 0) return Fail(error, "VIDIOC_QUERYBUF");
            if (buf.length < frameEnd_) {
                if (error) *error = "the device's buffers of " + std::to_string(buf.length) +
                                    " bytes are smaller than a frame of " + std::to_string(frameEnd_);
                Stop();
                return false;
            }
            MappedBuffer mapped{device_->Map(buf.length, buf.m.offset), buf.length};
            if (!mapped.start) return Fail(error, "mmap");
            buffers_.push_back(mapped);
        }
        return true;
    }

    bool StartStreaming(std::string* error)
    {
        for (uint32_t i = 0; i < buffers_.size(); ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (device_->Ioctl(VIDIOC_QBUF, &buf) < 0) return Fail(error, "VIDIOC_QBUF");
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device_->Ioctl(VIDIOC_STREAMON, &type) < 0) return Fail(error, "VIDIOC_STREAMON");
        streaming_ = true;
        return true;
    }

    // No frame this time. A stream without frames for the stall time is restarted once (the
    // driver may have stopped after an error); when that brings nothing either, the device is lost.
    std::chrono::milliseconds StallLimit() const
    {
        return std::chrono::milliseconds(std::max<int64_t>(options_.stallMs, 3 * interval_ / 10000));
    }

    CaptureResult NoFrame()
    {
        auto now = std::chrono::steady_clock::now();
        if (now - lastFrame_ < StallLimit()) return CaptureResult::Timeout;
        if (restarted_) return CaptureResult::Lost;
        restarted_ = true;
        lastFrame_ = now;
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_->Ioctl(VIDIOC_STREAMOFF, &type);  // returns every buffer to us
        streaming_ = false;
        return StartStreaming(nullptr) ? CaptureResult::Timeout : CaptureResult::Lost;
    }

    // Device rows (top-down, maybe padded) -> sample rows, plane by plane; compressed frames are
    // copied as they are. 0 when the frame is short or does not fit.
    size_t CopyFrame(const uint8_t* src, size_t used, uint8_t* dst, size_t capacity)
    {
        if (TraitsOf(format_.pixel).compressed) {
            if (used > capacity) return 0;
            memcpy(dst, src, used);
            return used;
        }
        size_t frameBytes = FrameBytes(format_.pixel, format_.width, format_.height);
        if (frameBytes > capacity || used < frameEnd_) return 0;
        for (const PlaneRows& plane : planes_) {
            for (size_t y = 0; y < plane.rows; ++y) {
                size_t to = plane.bottomUp ? plane.rows - 1 - y : y;
                memcpy(dst + plane.dstOffset + to * plane.dstStride, src + plane.srcOffset + y * plane.srcStride,
                       plane.rowBytes);
            }
        }
        return frameBytes;
    }

    std::unique_ptr<V4l2Device> device_;
    std::vector<VideoFormat> formats_;
    V4l2CameraOptions options_;
    VideoFormat format_{};
    REFERENCE_TIME interval_ = 0;
    std::vector<PlaneRows> planes_;
    size_t frameEnd_ = 0;  // bytes of a whole uncompressed frame in the driver's layout
    std::vector<MappedBuffer> buffers_;
    bool requested_ = false;  // the driver holds buffers for us (VIDIOC_REQBUFS succeeded)
    bool streaming_ = false;
    SteadyTime lastFrame_{};
    SteadyTime lastAsked_{};
    bool restarted_ = false;
};

}  // namespace

std::vector<std::pair<uint32_t, uint32_t>> CommonFrameSizes()
{
    return {{160, 120}, {320, 240}, {352, 288}, {640, 360}, {640, 480}, {800, 600}, {960, 540},
            {1024, 768}, {1280, 720}, {1280, 960}, {1600, 1200}, {1920, 1080}};
}

std::vector<V4l2DeviceInfo> ListV4l2Cameras(V4l2Nodes& nodes)
{
    std::vector<V4l2DeviceInfo> list;
    for (const std::string& path : nodes.Paths()) {
        auto device = nodes.Open(path, nullptr);
        v4l2_capability cap{};
        if (!device || !IsCaptureNode(*device, &cap)) continue;
        if (TranslateV4l2Capabilities(EnumerateCapabilities(*device)).empty()) continue;
        list.push_back({path, Text(cap.card, sizeof cap.card), Text(cap.bus_info, sizeof cap.bus_info)});
    }
    return list;
}

std::unique_ptr<VideoCamera> OpenV4l2Camera(std::unique_ptr<V4l2Device> device, const std::string& path,
                                            std::string* error, V4l2CameraOptions options)
{
    v4l2_capability cap{};
    if (!IsCaptureNode(*device, &cap)) {
        if (error) *error = path + " is not a video capture device";
        return nullptr;
    }
    auto formats = TranslateV4l2Capabilities(EnumerateCapabilities(*device));
    if (formats.empty()) {
        if (error) *error = path + " offers no format we can deliver";
        return nullptr;
    }
    return std::make_unique<V4l2Camera>(std::move(device), std::move(formats), options);
}

std::unique_ptr<VideoCamera> OpenV4l2Camera(const std::string& path, std::string* error)
{
    auto device = SystemV4l2Nodes().Open(path, error);
    return device ? OpenV4l2Camera(std::move(device), path, error) : nullptr;
}
