// Prints: H.264 frames per second with the default settings at 720p and 1080p on a moving
// picture, the AAC encoder's speed as a multiple of real time, and the H.264 encoder's CPU
// time divided by ffmpeg's libx264 CPU time on the same frames with the same settings.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "aac/aac_encoder.h"
#include "h264/h264_encoder.h"
#include "test_support.h"

namespace {

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BenchH264(int width, int height, int count, const std::string& scratch)
{
    std::vector<std::vector<uint8_t>> frames;
    std::ofstream raw(scratch + "/frames.yuv", std::ios::binary);
    for (int i = 0; i < count; ++i) {
        frames.push_back(MovingPictureI420(width, height, i));
        raw.write(reinterpret_cast<const char*>(frames.back().data()), static_cast<std::streamsize>(frames.back().size()));
    }
    raw.close();
    auto encoder = H264Encoder::Create(ReadX264Settings(), {PixelLayout::I420, width, height, width, false}, 333333, 0,
                                       0, nullptr);
    std::vector<EncodedFrame> out;
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto wallBefore = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) encoder->Encode(frames[i].data(), frames[i].size(), i * 333333LL, &out);
    encoder->Flush(&out);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;

    // The same settings as the registry defaults map to (see auxfilters/README.md).
    char command[1024];
    std::snprintf(command, sizeof(command),
                  "ffmpeg -nostdin -v error -f rawvideo -pix_fmt yuv420p -s %dx%d -r 30 -i %s/frames.yuv -c:v libx264 "
                  "-preset veryfast -b:v 1024k -maxrate 1228k -bufsize 1024k -bf 2 -b_strategy 0 -refs 5 -g 90 "
                  "-keyint_min 30 -subq 4 -trellis 1 -level 4.1 -f null -",
                  width, height, scratch.c_str());
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    RunCommand(command);
    const double ffmpegCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
    std::printf("h264 %dx%d: %.1f fps, CPU %.2f s; ffmpeg libx264 CPU %.2f s (includes reading the frames); ratio %.2f\n",
                width, height, count / wall, cpu, ffmpegCpu, cpu / ffmpegCpu);
}

void BenchAac()
{
    const int rate = 44100, seconds = 60;
    std::vector<int16_t> pcm(static_cast<size_t>(rate) * 2 * seconds);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(i * 0.031) + 3000 * std::sin(i * 0.17));
    auto encoder = AacEncoder::Create(rate, 2, 128000, nullptr);
    std::vector<EncodedFrame> out;
    const auto before = std::chrono::steady_clock::now();
    const int chunk = rate / 100;
    for (int at = 0; at < rate * seconds; at += chunk)
        encoder->Encode(pcm.data() + static_cast<size_t>(at) * 2, chunk, at * 10000000LL / rate, &out);
    encoder->Flush(&out);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    std::printf("aac 44100 Hz stereo 128 kbit/s: %.1fx real time\n", seconds / wall);
}

}  // namespace

int main()
{
    ScratchHome home;  // default registry values
    BenchH264(1280, 720, 300, home.Path());
    BenchH264(1920, 1080, 150, home.Path());
    BenchAac();
    return 0;
}
