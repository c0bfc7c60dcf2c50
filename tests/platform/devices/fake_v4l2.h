// A scripted V4L2 driver behind the V4l2Device seam. It lists what it is given (or, as analog
// grabbers do, refuses to enumerate sizes and rates), substitutes its first listed code for
// one it does not know, pads rows as configured, answers G_PARM/S_PARM and G_STD, keeps its
// buffers as a driver does (S_FMT is EBUSY while they are allocated) and delivers, in order,
// the frames and errors a test queues with Arrive().
#pragma once

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "devices/v4l2_camera.h"

struct FakeArrival {
    REFERENCE_TIME taken = 0;  // monotonic, 100 ns
    std::vector<uint8_t> bytes;
    int error = 0;  // DQBUF fails with this errno instead
};

struct FakeDriverConfig {
    std::string card = "Fake Camera";
    std::vector<V4l2FrameSize> listed;  // ENUM_FMT order
    bool enumeratesSizes = true;        // false: ENUM_FRAMESIZES and _FRAMEINTERVALS answer ENOTTY
    uint32_t maxWidth = 1920, maxHeight = 1080;
    v4l2_pix_format current{};  // G_FMT before any S_FMT
    v4l2_fract parm{};          // G_PARM's timeperframe; {0, 0}: ENOTTY
    v4l2_std_id standard = 0;   // G_STD; 0: ENOTTY
    v4l2_fract accepted{};      // S_PARM's answer; {0, 0}: as asked
    int padding = 0;            // added to every bytesperline (negative: rows shorter than a row)
    int queryBufFailures = 0;   // this many QUERYBUF calls fail
};

class FakeDriver {
public:
    explicit FakeDriver(FakeDriverConfig config) : config_(std::move(config)) { format_ = config_.current; }

    void Arrive(FakeArrival arrival)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        arrivals_.push_back(std::move(arrival));
        changed_.notify_all();
    }
    // Waits (10 s at most) until streaming was switched on `count` times.
    bool WaitForStreamOns(int count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return streamOns_ >= count; });
    }
    v4l2_pix_format Format()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return format_;
    }

    std::unique_ptr<V4l2Device> Open();

    int Ioctl(unsigned long request, void* arg)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            *cap = {};
            strncpy(reinterpret_cast<char*>(cap->card), config_.card.c_str(), sizeof cap->card - 1);
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* desc = static_cast<v4l2_fmtdesc*>(arg);
            std::vector<uint32_t> codes = Codes();
            if (desc->index >= codes.size()) return Error(EINVAL);
            desc->pixelformat = codes[desc->index];
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            if (!config_.enumeratesSizes) return Error(ENOTTY);
            auto* size = static_cast<v4l2_frmsizeenum*>(arg);
            std::vector<const V4l2FrameSize*> sizes;
            for (const auto& s : config_.listed)
                if (s.pixelformat == size->pixel_format) sizes.push_back(&s);
            if (size->index >= sizes.size()) return Error(EINVAL);
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = {sizes[size->index]->width, sizes[size->index]->height};
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            if (!config_.enumeratesSizes) return Error(ENOTTY);
            auto* ival = static_cast<v4l2_frmivalenum*>(arg);
            for (const auto& s : config_.listed) {
                if (s.pixelformat != ival->pixel_format || s.width != ival->width || s.height != ival->height) continue;
                if (ival->index >= s.intervals.size()) return Error(EINVAL);
                ival->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                ival->discrete = {s.intervals[ival->index].numerator, s.intervals[ival->index].denominator};
                return 0;
            }
            return Error(EINVAL);
        }
        case VIDIOC_G_FMT:
            static_cast<v4l2_format*>(arg)->fmt.pix = format_;
            return 0;
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
            if (request == VIDIOC_S_FMT && !buffers_.empty()) return Error(EBUSY);
            Adjust(&pix);
            if (request == VIDIOC_S_FMT) format_ = pix;
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto& capture = static_cast<v4l2_streamparm*>(arg)->parm.capture;
            if (request == VIDIOC_S_PARM && config_.accepted.denominator) capture.timeperframe = config_.accepted;
            else if (request == VIDIOC_G_PARM && config_.parm.denominator) capture.timeperframe = config_.parm;
            else if (request == VIDIOC_G_PARM || !config_.enumeratesSizes) return Error(ENOTTY);
            capture.capability = V4L2_CAP_TIMEPERFRAME;
            return 0;
        }
        case VIDIOC_G_STD:
            if (!config_.standard) return Error(ENOTTY);
            *static_cast<v4l2_std_id*>(arg) = config_.standard;
            return 0;
        case VIDIOC_REQBUFS: {
            auto* req = static_cast<v4l2_requestbuffers*>(arg);
            if (streaming_) return Error(EBUSY);
            buffers_.assign(req->count, std::vector<uint8_t>(format_.sizeimage));
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* buf = static_cast<v4l2_buffer*>(arg);
            if (config_.queryBufFailures > 0) return --config_.queryBufFailures, Error(EINVAL);
            if (buf->index >= buffers_.size()) return Error(EINVAL);
            buf->length = uint32_t(buffers_[buf->index].size());
            buf->m.offset = buf->index * kPage;
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* buf = static_cast<v4l2_buffer*>(arg);
            if (buf->index >= buffers_.size()) return Error(EINVAL);
            queue_.push_back(buf->index);
            return 0;
        }
        case VIDIOC_DQBUF: return Dequeue(static_cast<v4l2_buffer*>(arg));
        case VIDIOC_STREAMON:
            streaming_ = true;
            ++streamOns_;
            changed_.notify_all();
            return 0;
        case VIDIOC_STREAMOFF:
            streaming_ = false;
            queue_.clear();
            return 0;
        default: return Error(request == VIDIOC_QUERYCTRL ? EINVAL : ENOTTY);
        }
    }

    V4l2Wait WaitForFrame(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        bool ready = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return streaming_ && !arrivals_.empty() && !queue_.empty(); });
        return ready ? V4l2Wait::Ready : V4l2Wait::Timeout;
    }

    void* Map(uint32_t offset)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t index = offset / kPage;
        return index < buffers_.size() ? buffers_[index].data() : nullptr;
    }

private:
    static constexpr uint32_t kPage = 4096;

    static int Error(int code)
    {
        errno = code;
        return -1;
    }

    std::vector<uint32_t> Codes() const
    {
        std::vector<uint32_t> codes;
        for (const auto& s : config_.listed)
            if (std::find(codes.begin(), codes.end(), s.pixelformat) == codes.end()) codes.push_back(s.pixelformat);
        return codes;
    }

    // As a driver: an unknown code becomes the first listed one, the size a listed one (or,
    // without size enumeration, anything up to the maximum), rows padded as configured.
    void Adjust(v4l2_pix_format* pix) const
    {
        std::vector<uint32_t> codes = Codes();
        if (std::find(codes.begin(), codes.end(), pix->pixelformat) == codes.end()) pix->pixelformat = codes.at(0);
        if (config_.enumeratesSizes) {
            auto same = [&](const V4l2FrameSize& s) {
                return s.pixelformat == pix->pixelformat && s.width == pix->width && s.height == pix->height;
            };
            if (std::none_of(config_.listed.begin(), config_.listed.end(), same)) {
                auto first = std::find_if(config_.listed.begin(), config_.listed.end(),
                                          [&](const V4l2FrameSize& s) { return s.pixelformat == pix->pixelformat; });
                pix->width = first->width;
                pix->height = first->height;
            }
        } else {
            pix->width = std::min(pix->width, config_.maxWidth) & ~3u;
            pix->height = std::min(pix->height, config_.maxHeight);
        }
        uint32_t w = pix->width, h = pix->height;
        switch (pix->pixelformat) {
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
            pix->bytesperline = uint32_t(int(w) + config_.padding);
            pix->sizeimage = pix->bytesperline * h * 3 / 2;
            break;
        case V4L2_PIX_FMT_MJPEG: pix->bytesperline = 0, pix->sizeimage = w * h * 2; break;
        default: {
            uint32_t bytes = pix->pixelformat == V4L2_PIX_FMT_YUYV || pix->pixelformat == V4L2_PIX_FMT_UYVY ? 2
                             : pix->pixelformat == V4L2_PIX_FMT_BGR24                                          ? 3
                                                                                                              : 4;
            pix->bytesperline = uint32_t(int(w * bytes) + config_.padding);
            pix->sizeimage = pix->bytesperline * h;
        }
        }
    }

    int Dequeue(v4l2_buffer* buf)
    {
        if (!streaming_ || arrivals_.empty() || queue_.empty()) return Error(EAGAIN);
        FakeArrival arrival = std::move(arrivals_.front());
        arrivals_.pop_front();
        if (arrival.error) return Error(arrival.error);
        uint32_t index = queue_.front();
        queue_.pop_front();
        size_t used = std::min(arrival.bytes.size(), buffers_[index].size());
        std::copy_n(arrival.bytes.begin(), used, buffers_[index].begin());
        buf->index = index;
        buf->bytesused = uint32_t(used);
        buf->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        buf->timestamp.tv_sec = arrival.taken / 10000000;
        buf->timestamp.tv_usec = (arrival.taken % 10000000) / 10;
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    FakeDriverConfig config_;
    v4l2_pix_format format_{};
    std::vector<std::vector<uint8_t>> buffers_;
    std::deque<uint32_t> queue_;  // queued buffers, in order
    std::deque<FakeArrival> arrivals_;
    bool streaming_ = false;
    int streamOns_ = 0;
};

class FakeNode final : public V4l2Device {
public:
    explicit FakeNode(FakeDriver* driver) : driver_(driver) {}
    int Ioctl(unsigned long request, void* arg) override { return driver_->Ioctl(request, arg); }
    V4l2Wait WaitForFrame(int timeoutMs) override { return driver_->WaitForFrame(timeoutMs); }
    void* Map(size_t, uint32_t offset) override { return driver_->Map(offset); }
    void Unmap(void*, size_t) override {}

private:
    FakeDriver* driver_;
};

inline std::unique_ptr<V4l2Device> FakeDriver::Open() { return std::make_unique<FakeNode>(this); }

// A set of scripted nodes, listed in the order given.
class FakeNodes final : public V4l2Nodes {
public:
    void Add(const std::string& path, FakeDriver* driver) { nodes_.push_back({path, driver}); }
    std::vector<std::string> Paths() override
    {
        std::vector<std::string> paths;
        for (auto& [path, driver] : nodes_) paths.push_back(path);
        return paths;
    }
    std::unique_ptr<V4l2Device> Open(const std::string& path, std::string*) override
    {
        for (auto& [p, driver] : nodes_)
            if (p == path) return driver->Open();
        return nullptr;
    }

private:
    std::vector<std::pair<std::string, FakeDriver*>> nodes_;
};
