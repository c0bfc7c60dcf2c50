// What a capture filter needs from a device, whatever the device is: a V4L2 camera or the
// test-pattern camera behind the video filter, a PulseAudio source or the tone microphone
// behind the audio filter. Backends are used from the filter's streaming thread between
// Start and Stop and from the application thread otherwise; they do not lock themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices.h"
#include "video_format.h"

enum class CaptureResult {
    Frame,    // dst holds new data
    Timeout,  // nothing yet; ask again (lets the caller notice a stop request)
    Lost,     // the device is gone or failed for good
};

class VideoCamera {
public:
    virtual ~VideoCamera() = default;
    virtual const std::vector<VideoFormat>& Formats() const = 0;
    // True when the device delivers frames at its own pace; otherwise the filter waits for
    // each frame's time on the graph clock before asking for it.
    virtual bool PacedByDevice() const = 0;
    // `interval` asks for a frame interval and receives the one the device accepted.
    virtual bool Start(const VideoFormat& format, REFERENCE_TIME* interval, std::string* error) = 0;
    // Writes the next frame in the DIB layout of the started format (bottom-up rows for RGB),
    // with its length and the moment the device took it.
    virtual CaptureResult Capture(uint8_t* dst, size_t capacity, int timeoutMs, size_t* length,
                                  REFERENCE_TIME* taken) = 0;
    virtual void Stop() = 0;

    virtual std::vector<DeviceControl> Controls() = 0;
    virtual bool SetControl(uint32_t id, int32_t value) = 0;
};

struct AudioFormat {
    DWORD sampleRate;
    WORD channels;  // 16-bit PCM throughout
};

class Microphone {
public:
    virtual ~Microphone() = default;
    virtual const std::vector<AudioFormat>& Formats() const = 0;
    virtual bool PacedByDevice() const = 0;
    virtual bool Start(const AudioFormat& format, size_t framesPerBuffer, std::string* error) = 0;
    // Fills exactly `frames` interleaved frames; `taken` receives the capture time of the first.
    // Timeout when they did not come within timeoutMs (nothing is lost: ask again).
    virtual CaptureResult Capture(int16_t* dst, size_t frames, int timeoutMs, REFERENCE_TIME* taken) = 0;
    virtual void Stop() = 0;

    // Input level 0.0 .. 1.0: the loudest channel's; setting it keeps the balance.
    virtual bool SetLevel(double level) = 0;
    virtual bool GetLevel(double* level) = 0;
};

// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED): binding to a device that is gone.
constexpr HRESULT kDeviceNotConnected = static_cast<HRESULT>(0x8007048F);
// HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), "A device attached to the system is not functioning.":
// starting a filter whose device cannot stream.
constexpr HRESULT kDeviceNotFunctioning = static_cast<HRESULT>(0x8007001F);
