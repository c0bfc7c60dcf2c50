#include "pulse_microphone.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "../dshow/refclock.h"
#include "device_watch.h"

namespace {

constexpr const char* kClientName = "Veltro";
// Longest wait for the server at connection, stream set-up and queries: a stalled server must
// not hold the window's thread.
constexpr pa_usec_t kServerWaitUsec = 5 * PA_USEC_PER_SEC;
constexpr uint32_t kBacklogSeconds = 2;  // what the server keeps while we do not read (paused)

// A short-lived connection on a private main loop, for the synchronous queries.
class PulseQuery {
public:
    PulseQuery()
    {
        loop_ = pa_mainloop_new();
        context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        pa_context_rttime_new(context_, pa_rtclock_now() + kServerWaitUsec, OnDeadline, this);
        while (!late_) {
            pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                ready_ = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) return;
        }
    }
    ~PulseQuery()
    {
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_mainloop_free(loop_);
    }
    PulseQuery(const PulseQuery&) = delete;
    PulseQuery& operator=(const PulseQuery&) = delete;

    bool Ready() const { return ready_; }
    pa_context* Context() const { return context_; }

    // Runs the loop until the operation finishes; false when it could not start, the server
    // went away or did not answer in time.
    bool Wait(pa_operation* op)
    {
        if (!op) return false;
        bool ok = true;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            if (late_ || pa_mainloop_iterate(loop_, 1, nullptr) < 0) {
                ok = false;
                break;
            }
        ok = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_cancel(op);
        pa_operation_unref(op);
        return ok;
    }

private:
    static void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
    {
        static_cast<PulseQuery*>(user)->late_ = true;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
    bool late_ = false;
};

struct SourceVolume {
    bool found = false;
    pa_cvolume volume{};
};

bool ReadSourceVolume(PulseQuery& query, const std::string& source, SourceVolume* out)
{
    auto onInfo = [](pa_context*, const pa_source_info* info, int eol, void* user) {
        auto* result = static_cast<SourceVolume*>(user);
        if (eol || !info) return;
        result->found = true;
        result->volume = info->volume;
    };
    return query.Wait(pa_context_get_source_info_by_name(query.Context(), source.c_str(), onInfo, out)) && out->found;
}

// Records from one source on a threaded main loop. The stream refuses to be moved: when its
// source goes, the server kills it and the microphone is lost, rather than silently recording
// another one. Every wait on the server is bounded.
class PulseMicrophone final : public Microphone {
public:
    explicit PulseMicrophone(std::string source) : source_(std::move(source))
    {
        for (DWORD rate : {44100u, 48000u, 32000u, 22050u, 16000u, 11025u, 8000u})
            for (WORD channels : {2, 1}) formats_.push_back({rate, channels});
    }
    ~PulseMicrophone() override { Stop(); }

    const std::vector<AudioFormat>& Formats() const override { return formats_; }
    bool PacedByDevice() const override { return true; }

    bool Start(const AudioFormat& format, size_t framesPerBuffer, std::string* error) override
    {
        Stop();
        spec_ = {PA_SAMPLE_S16LE, format.sampleRate, uint8_t(format.channels)};
        loop_ = pa_threaded_mainloop_new();
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
        if (!context_) return Fail(error, "cannot connect to the sound server");
        pa_context_set_state_callback(context_, OnContextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0)
            return Fail(error, "cannot connect to the sound server");
        pa_threaded_mainloop_lock(loop_);
        bool ready = WaitUntil(pa_rtclock_now() + kServerWaitUsec, [this] {
            pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        }) && pa_context_get_state(context_) == PA_CONTEXT_READY;
        if (ready) stream_ = pa_stream_new(context_, "Capture", &spec_, nullptr);
        ready = ready && stream_;
        if (ready) {
            pa_stream_set_state_callback(stream_, OnStreamState, this);
            pa_stream_set_read_callback(stream_, OnReadable, this);
            pa_buffer_attr attr;
            attr.maxlength = uint32_t(pa_usec_to_bytes(kBacklogSeconds * PA_USEC_PER_SEC, &spec_));
            attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
            attr.fragsize = uint32_t(framesPerBuffer * pa_frame_size(&spec_));
            auto flags = pa_stream_flags_t(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY |
                                           PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
            ready = pa_stream_connect_record(stream_, source_.c_str(), &attr, flags) == 0 &&
                    WaitUntil(pa_rtclock_now() + kServerWaitUsec, [this] {
                        pa_stream_state_t state = pa_stream_get_state(stream_);
                        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
                    }) &&
                    pa_stream_get_state(stream_) == PA_STREAM_READY;
        }
        std::string reason = pa_strerror(pa_context_errno(context_));
        pa_threaded_mainloop_unlock(loop_);
        if (!ready) return Fail(error, "cannot record from " + source_ + ": " + reason);
        pending_.clear();
        lostReported_ = false;
        return true;
    }

    CaptureResult Capture(int16_t* dst, size_t frames, int timeoutMs, REFERENCE_TIME* taken) override
    {
        if (!loop_) return CaptureResult::Lost;
        const size_t needed = frames * pa_frame_size(&spec_);
        const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC;
        pa_threaded_mainloop_lock(loop_);
        CaptureResult result = CaptureResult::Timeout;
        WaitUntil(deadline, [&] {
            if (!Streaming()) return result = CaptureResult::Lost, true;
            if (!Take(needed)) return false;
            *taken = FirstPendingTime();
            memcpy(dst, pending_.data(), needed);
            pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(needed));
            return result = CaptureResult::Frame, true;
        });
        pa_threaded_mainloop_unlock(loop_);
        if (result == CaptureResult::Lost && !lostReported_) {
            // A Bluetooth microphone that goes leaves no udev trace: tell the windows here.
            lostReported_ = true;
            PostDeviceRemoval();
        }
        return result;
    }

    void Stop() override
    {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    bool SetLevel(double level) override { return SetPulseSourceVolume(source_, level); }
    bool GetLevel(double* level) override { return GetPulseSourceVolume(source_, level); }

private:
    // Callbacks on the loop's thread: wake the waiting reader.
    static void Wake(void* self) { pa_threaded_mainloop_signal(static_cast<PulseMicrophone*>(self)->loop_, 0); }
    static void OnContextState(pa_context*, void* self) { Wake(self); }
    static void OnStreamState(pa_stream*, void* self) { Wake(self); }
    static void OnReadable(pa_stream*, size_t, void* self) { Wake(self); }
    static void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) { Wake(self); }

    bool Fail(std::string* error, const std::string& text)
    {
        if (error) *error = text;
        Stop();
        return false;
    }

    // With the loop locked: waits for `done` until the deadline (pa_rtclock time).
    template <class Done>
    bool WaitUntil(pa_usec_t deadline, Done done)
    {
        for (;;) {
            if (done()) return true;
            if (pa_rtclock_now() >= deadline) return false;
            // The loop thread wakes us on every state change and new data, and this timer
            // at the deadline.
            pa_time_event* timer = pa_context_rttime_new(context_, deadline, OnDeadline, this);
            pa_threaded_mainloop_wait(loop_);
            pa_threaded_mainloop_get_api(loop_)->time_free(timer);
        }
    }

    bool Streaming() const
    {
        return pa_context_get_state(context_) == PA_CONTEXT_READY && stream_ &&
               pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    // Moves what the server has into pending_ until it holds `needed` bytes.
    bool Take(size_t needed)
    {
        while (pending_.size() < needed && pa_stream_readable_size(stream_) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
            if (data) pending_.insert(pending_.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + bytes);
            else pending_.resize(pending_.size() + bytes, 0);  // a hole in the stream: silence
            pa_stream_drop(stream_);
        }
        return pending_.size() >= needed;
    }

    // When the first pending frame was captured: everything after it that has reached us (what
    // we hold and what the stream still holds for us) came later, and the newest byte left the
    // source its own latency ago. The stream's total latency is not used: between timing
    // reports it counts the server's write position from the last report, so it falls by each
    // read until the next one, and the capture times ran at twice the real rate for the first
    // half second (holes in the sound's time line).
    REFERENCE_TIME FirstPendingTime()
    {
        size_t readable = pa_stream_readable_size(stream_);
        size_t held = pending_.size() + (readable == size_t(-1) ? 0 : readable);
        pa_usec_t age = pa_bytes_to_usec(held, &spec_);
        if (const pa_timing_info* timing = pa_stream_get_timing_info(stream_))
            age += timing->source_usec + timing->transport_usec;
        return CSystemClock::Now() - REFERENCE_TIME(age) * 10;
    }

    std::string source_;
    std::vector<AudioFormat> formats_;
    pa_sample_spec spec_{};
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::vector<uint8_t> pending_;  // read from the server, not yet delivered
    bool lostReported_ = false;
};

}  // namespace

std::vector<PulseSourceInfo> ListPulseSources()
{
    PulseQuery query;
    std::vector<PulseSourceInfo> sources;
    if (!query.Ready()) return sources;
    auto onInfo = [](pa_context*, const pa_source_info* info, int eol, void* user) {
        if (eol || !info) return;
        static_cast<std::vector<PulseSourceInfo>*>(user)->push_back(
            {info->index, info->name, info->description ? info->description : info->name,
             info->monitor_of_sink != PA_INVALID_INDEX});
    };
    if (!query.Wait(pa_context_get_source_info_list(query.Context(), onInfo, &sources))) return {};
    std::stable_sort(sources.begin(), sources.end(), [](const PulseSourceInfo& a, const PulseSourceInfo& b) {
        return a.monitor != b.monitor ? !a.monitor : a.index < b.index;
    });
    return sources;
}

// The level is the loudest channel's; scaling keeps the channels' balance.
bool SetPulseSourceVolume(const std::string& source, double level)
{
    if (!(level >= 0.0 && level <= 1.0)) return false;
    PulseQuery query;
    SourceVolume current;
    if (!query.Ready() || !ReadSourceVolume(query, source, &current)) return false;
    pa_cvolume volume = current.volume;
    pa_cvolume_scale(&volume, pa_volume_t(std::lround(level * PA_VOLUME_NORM)));
    bool ok = false;
    auto onDone = [](pa_context*, int success, void* user) { *static_cast<bool*>(user) = success != 0; };
    return query.Wait(pa_context_set_source_volume_by_name(query.Context(), source.c_str(), &volume, onDone, &ok)) &&
           ok;
}

bool GetPulseSourceVolume(const std::string& source, double* level)
{
    PulseQuery query;
    SourceVolume current;
    if (!query.Ready() || !ReadSourceVolume(query, source, &current)) return false;
    *level = std::min(1.0, double(pa_cvolume_max(&current.volume)) / PA_VOLUME_NORM);
    return true;
}

std::unique_ptr<Microphone> OpenPulseMicrophone(const std::string& source)
{
    return std::make_unique<PulseMicrophone>(source);
}
