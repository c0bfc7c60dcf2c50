#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

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
