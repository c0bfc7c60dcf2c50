#include "virtual_devices.h"

#include <atomic>
#include <optional>

#include "brightness.h"
#include "test_pattern.h"
#include "tone.h"

namespace {

// The camera's control values belong to the device, as a driver keeps them, so they outlive
// each filter that opens it (the window rebuilds its graph after the device page closes).
std::atomic<int32_t> g_patternSpeed{kDefaultPatternSpeed};
std::atomic<int32_t> g_patternBrightness{0};

class PatternCamera final : public VideoCamera {
public:
    PatternCamera()
    {
        const std::pair<LONG, LONG> sizes[] = {{320, 240}, {640, 360}, {640, 480}, {800, 600}, {1280, 720}, {1920, 1080}};
        for (PixelFormat pixel : {PixelFormat::YUY2, PixelFormat::RGB24, PixelFormat::RGB32})
            for (auto [w, h] : sizes)
                formats_.push_back({pixel, w, h, {166667, 333333, 400000, 666667, 1000000, 10000000}, true});
    }

    const std::vector<VideoFormat>& Formats() const override { return formats_; }
    bool PacedByDevice() const override { return false; }

    bool Start(const VideoFormat& format, REFERENCE_TIME*, std::string* error) override
    {
        if (!IsVirtualDevicePresent(VirtualDevice::Camera)) {
            if (error) *error = std::string(kVirtualCameraName) + " is removed";
            return false;
        }
        bool sameFormat = pattern_ && current_.pixel == format.pixel && current_.width == format.width &&
                          current_.height == format.height;
        if (!sameFormat) pattern_.emplace(format.pixel, format.width, format.height);
        current_ = format;
        frame_ = 0;
        return true;
    }

    CaptureResult Capture(uint8_t* dst, size_t capacity, int, size_t* length, REFERENCE_TIME*) override
    {
        if (!IsVirtualDevicePresent(VirtualDevice::Camera)) return CaptureResult::Lost;
        if (!pattern_ || capacity < pattern_->FrameSize()) return CaptureResult::Lost;
        pattern_->Render(frame_++, g_patternSpeed.load(), dst);
        *length = pattern_->FrameSize();
        ShiftBrightness(current_.pixel, dst, *length, g_patternBrightness.load());
        return CaptureResult::Frame;
    }

    void Stop() override {}

    std::vector<DeviceControl> Controls() override
    {
        return {{kPatternSpeedControl, "Pattern Speed", DeviceControlType::Integer, 0, 16, 1, kDefaultPatternSpeed, g_patternSpeed.load(), {}},
                {kPatternBrightnessControl, "Brightness", DeviceControlType::Integer, -128, 128, 1, 0, g_patternBrightness.load(), {}}};
    }

    bool SetControl(uint32_t id, int32_t value) override
    {
        for (const DeviceControl& c : Controls()) {
            if (c.id != id || value < c.minimum || value > c.maximum) continue;
            (id == kPatternSpeedControl ? g_patternSpeed : g_patternBrightness) = value;
            return true;
        }
        return false;
    }

private:
    std::vector<VideoFormat> formats_;
    std::optional<TestPattern> pattern_;
    VideoFormat current_{};
    uint64_t frame_ = 0;
};

class ToneMicrophone final : public Microphone {
public:
    const std::vector<AudioFormat>& Formats() const override { return formats_; }
    bool PacedByDevice() const override { return false; }

    bool Start(const AudioFormat& format, size_t, std::string* error) override
    {
        if (!IsVirtualDevicePresent(VirtualDevice::Microphone)) {
            if (error) *error = std::string(kVirtualMicrophoneName) + " is removed";
            return false;
        }
        tone_.emplace(format.sampleRate, format.channels);
        return true;
    }

    CaptureResult Capture(int16_t* dst, size_t frames, int, REFERENCE_TIME*) override
    {
        if (!IsVirtualDevicePresent(VirtualDevice::Microphone) || !tone_) return CaptureResult::Lost;
        tone_->Render(dst, frames, level_.load());
        return CaptureResult::Frame;
    }

    void Stop() override {}

    bool SetLevel(double level) override
    {
        if (!(level >= 0.0 && level <= 1.0)) return false;
        level_ = level;
        return true;
    }
    bool GetLevel(double* level) override
    {
        *level = level_.load();
        return true;
    }

private:
    std::vector<AudioFormat> formats_{{44100, 2}, {48000, 2}, {8000, 1}};
    std::optional<ToneGenerator> tone_;
    std::atomic<double> level_{1.0};
};

}  // namespace

std::unique_ptr<VideoCamera> CreatePatternCamera() { return std::make_unique<PatternCamera>(); }
std::unique_ptr<Microphone> CreateToneMicrophone() { return std::make_unique<ToneMicrophone>(); }
