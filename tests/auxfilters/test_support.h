// Helpers shared by the auxiliary filters' tests and benchmarks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/encoded_frame.h"
#include "h264/x264_settings.h"

// A fresh HOME and registry folder for one test, removed again on destruction.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes one REG_DWORD under HKEY_CURRENT_USER\<key>.
void SetRegistryDword(const std::string& key, const std::string& name, uint32_t value);

// An I420 frame of a moving picture (gradients and a sliding box), different for every index.
std::vector<uint8_t> MovingPictureI420(int width, int height, int index);

// Track kind ("video", "audio") -> the first presentation time and the end of the last
// packet in seconds, as ffprobe reads the file.
struct TrackSpan {
    double start = 0;
    double end = 0;
};
std::map<std::string, TrackSpan> TrackSpans(const std::string& path);
// The end of each track's last packet in seconds.
std::map<std::string, double> TrackEnds(const std::string& path);

// Runs a shell command and returns its standard output; `status` gets the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);

// Two seconds captured from time zero at 30 fps and 48 kHz stereo, encoded: a dark picture
// with a bright flash from `kSyncFlashFrame` on, and silence with a 1 kHz tone burst that
// starts at the flash's capture time.
inline constexpr int kSyncFlashFrame = 30;
inline constexpr int64_t kSyncFrame = 333333;
struct FlashAndTone {
    int width = 160, height = 120, sampleRate = 48000;
    std::vector<uint8_t> sequenceHeader, audioSpecificConfig;
    std::vector<EncodedFrame> video, audio;
};
FlashAndTone EncodeFlashAndTone(const X264Settings& settings);

// Where ffmpeg, decoding the recording, sees the first bright picture and the end of the
// silence, in seconds; -1 for what it does not find.
struct Onsets {
    double flash = -1, tone = -1;
};
Onsets FlashAndToneOnsets(const std::string& path);
