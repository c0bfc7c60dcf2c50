// Helpers shared by the auxiliary filters' tests and benchmarks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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
