#include "pulse_microphone.h"

#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kClientName = "Veltro";

// A short-lived connection on a private main loop, for the synchronous queries.
class PulseQuery {
public:
    PulseQuery()
    {
        loop_ = pa_mainloop_new();
        context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        for (;;) {
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

    // Runs the loop until the operation finishes; false when it could not start or the server went away.
    bool Wait(pa_operation* op)
    {
        if (!op) return false;
        bool ok = true;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) {
                ok = false;
                break;
            }
        ok = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return ok;
    }

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
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
        pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, format.sampleRate, uint8_t(format.channels)};
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(framesPerBuffer * format.channels * sizeof(int16_t));
        int err = 0;
        stream_ = pa_simple_new(nullptr, kClientName, PA_STREAM_RECORD, source_.c_str(), "Capture", &sampleSpec, nullptr,
                                &attr, &err);
        if (!stream_) {
            if (error) *error = "cannot record from " + source_ + ": " + pa_strerror(err);
            return false;
        }
        channels_ = format.channels;
        return true;
    }

    CaptureResult Capture(int16_t* dst, size_t frames) override
    {
        int err = 0;
        if (!stream_ || pa_simple_read(stream_, dst, frames * channels_ * sizeof(int16_t), &err) < 0)
            return CaptureResult::Lost;
        return CaptureResult::Frame;
    }

    void Stop() override
    {
        if (stream_) pa_simple_free(stream_);
        stream_ = nullptr;
    }

    bool SetLevel(double level) override { return SetPulseSourceVolume(source_, level); }
    bool GetLevel(double* level) override { return GetPulseSourceVolume(source_, level); }

private:
    std::string source_;
    std::vector<AudioFormat> formats_;
    pa_simple* stream_ = nullptr;
    WORD channels_ = 2;
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

bool SetPulseSourceVolume(const std::string& source, double level)
{
    if (!(level >= 0.0 && level <= 1.0)) return false;
    PulseQuery query;
    SourceVolume current;
    if (!query.Ready() || !ReadSourceVolume(query, source, &current)) return false;
    pa_cvolume volume;
    pa_cvolume_set(&volume, current.volume.channels, pa_volume_t(std::lround(level * PA_VOLUME_NORM)));
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
    *level = std::min(1.0, double(pa_cvolume_avg(&current.volume)) / PA_VOLUME_NORM);
    return true;
}

std::unique_ptr<Microphone> OpenPulseMicrophone(const std::string& source)
{
    return std::make_unique<PulseMicrophone>(source);
}
