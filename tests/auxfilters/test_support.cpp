#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "aac/aac_encoder.h"
#include "h264/h264_encoder.h"
#include "registry/registry.h"

ScratchHome::ScratchHome()
{
    char pattern[] = "/tmp/veltro-aux-XXXXXX";
    path_ = mkdtemp(pattern);
    std::filesystem::create_directories(path_ + "/registry");
    setenv("HOME", path_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
    setenv("VELTRO_REGISTRY_DIR", (path_ + "/registry").c_str(), 1);
}

ScratchHome::~ScratchHome()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void SetRegistryDword(const std::string& key, const std::string& name, uint32_t value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        std::abort();
    RegSetValueEx(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(handle);
}

std::vector<uint8_t> MovingPictureI420(int width, int height, int index)
{
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3 / 2);
    uint8_t* y = frame.data();
    uint8_t* u = y + width * height;
    uint8_t* v = u + (width / 2) * (height / 2);
    const int boxX = (index * 7) % (width > 64 ? width - 64 : 1);
    const int boxY = (index * 3) % (height > 64 ? height - 64 : 1);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const bool inBox = col >= boxX && col < boxX + 64 && row >= boxY && row < boxY + 64;
            y[row * width + col] = inBox ? 235 : static_cast<uint8_t>(16 + ((col + row + index * 4) & 0x7F) + ((col * row) >> 12 & 0x3F));
        }
    for (int row = 0; row < height / 2; ++row)
        for (int col = 0; col < width / 2; ++col) {
            u[row * (width / 2) + col] = static_cast<uint8_t>(64 + ((col + index) & 0x7F));
            v[row * (width / 2) + col] = static_cast<uint8_t>(64 + ((row + index * 2) & 0x7F));
        }
    return frame;
}

std::string RunCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    const int result = pclose(pipe);
    if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

std::map<std::string, TrackSpan> TrackSpans(const std::string& path)
{
    std::map<std::string, TrackSpan> spans;
    std::istringstream lines(RunCommand("ffprobe -v error -show_entries packet=codec_type,pts_time,duration_time "
                                        "-of csv=p=0 '" + path + "'"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string type, pts, duration;
        std::getline(fields, type, ',');
        std::getline(fields, pts, ',');
        std::getline(fields, duration, ',');
        if (type != "video" && type != "audio") continue;
        const double start = std::stod(pts), end = start + (duration == "N/A" ? 0 : std::stod(duration));
        auto [it, fresh] = spans.try_emplace(type, TrackSpan{start, end});
        it->second.start = std::min(it->second.start, start);
        it->second.end = std::max(it->second.end, end);
    }
    return spans;
}

std::map<std::string, double> TrackEnds(const std::string& path)
{
    std::map<std::string, double> ends;
    for (const auto& [kind, span] : TrackSpans(path)) ends[kind] = span.end;
    return ends;
}

FlashAndTone EncodeFlashAndTone(const X264Settings& settings)
{
    FlashAndTone clip;
    const int w = clip.width, h = clip.height, rate = clip.sampleRate;
    auto video = H264Encoder::Create(settings, {PixelLayout::I420, w, h, w, false}, kSyncFrame, nullptr);
    auto audio = AacEncoder::Create(rate, 2, 128000, nullptr);
    if (!video || !audio) return clip;
    for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> frame(w * h * 3 / 2, 128);
        std::fill(frame.begin(), frame.begin() + w * h, i >= kSyncFlashFrame && i < kSyncFlashFrame + 5 ? 235 : 30);
        video->Encode(frame.data(), frame.size(), i * kSyncFrame, &clip.video);
    }
    video->Flush(&clip.video);
    // 10 ms blocks; the tone lasts 200 ms.
    const int64_t toneStart = kSyncFlashFrame * kSyncFrame * rate / 10000000;
    for (int64_t first = 0; first < 2 * rate; first += rate / 100) {
        std::vector<int16_t> block(rate / 100 * 2, 0);
        for (int64_t n = std::max(first, toneStart); n < std::min(first + rate / 100, toneStart + rate / 5); ++n)
            block[2 * (n - first)] = block[2 * (n - first) + 1] =
                static_cast<int16_t>(16000 * std::sin(2 * M_PI * 1000 * (n - toneStart) / rate));
        audio->Encode(block.data(), rate / 100, first * 10000000 / rate, &clip.audio);
    }
    audio->Flush(&clip.audio);
    clip.sequenceHeader = video->SequenceHeader();
    clip.audioSpecificConfig = audio->AudioSpecificConfig();
    return clip;
}

Onsets FlashAndToneOnsets(const std::string& path)
{
    Onsets onsets;
    std::istringstream lines(RunCommand("ffprobe -v error -f lavfi -i \"movie='" + path +
                                        "',signalstats\" -show_entries frame=pts_time:frame_tags="
                                        "lavfi.signalstats.YAVG -of csv=p=0"));
    for (std::string line; onsets.flash < 0 && std::getline(lines, line);)
        if (const auto comma = line.find(','); comma != std::string::npos && std::stod(line.substr(comma + 1)) > 128)
            onsets.flash = std::stod(line.substr(0, comma));
    const std::string silence =
        RunCommand("ffmpeg -nostdin -i '" + path + "' -vn -af silencedetect=noise=-30dB:duration=0.2 -f null - 2>&1");
    if (const auto end = silence.find("silence_end: "); end != std::string::npos)
        onsets.tone = std::stod(silence.substr(end + 13));
    return onsets;
}
