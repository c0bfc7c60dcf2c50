// Publishes a pre-encoded 60-second 1080p H.264 + AAC stream, unpaced, through the sink filter
// to nginx on loopback, then the same file with `ffmpeg -c copy -f flv`, and prints the ratios.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "sink_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* kAddress = "127.0.0.7";

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double ProcessCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

struct Nginx {
    std::string dir;
    explicit Nginx(const std::string& folder) : dir(folder)
    {
        Shell("mkdir -p " + dir + "/logs");
        std::ofstream config(dir + "/nginx.conf");
        config << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\ndaemon on;\nworker_processes 1;\n"
               << "pid " << dir << "/nginx.pid;\nerror_log " << dir << "/logs/error.log;\n"
               << "events { worker_connections 64; }\n"
               << "rtmp { server { listen " << kAddress << ":1935; chunk_size 4096;\n"
               << "  application live { live on; } } }\n";
        config.close();
        Shell("nginx -p " + dir + " -c " + dir + "/nginx.conf -e " + dir + "/logs/error.log");
        for (int i = 0; i < 100 && Shell(std::string("ss -ltn | grep -q ") + kAddress + ":1935") != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Nginx() { Shell("kill -QUIT $(cat " + dir + "/nginx.pid)"); }
};

struct Run {
    double wall = 0;
    double cpu = 0;
};

Run PublishThroughSink(const EncodedStreams& streams, uint64_t& bytesSent)
{
    SinkHarness sink;
    std::string url = std::string("rtmp://") + kAddress + "/live/@bench";
    sink.Control()->SetConnectionString(url.c_str());
    auto* source = new TestSource(&streams.video, AvcMediaType(streams, 1920, 1080, 333333), &streams.audio,
                                  AacMediaType(streams, 2, 44100));
    source->AddRef();
    double cpu = ProcessCpu();
    auto began = Clock::now();
    if (sink.Control()->Connect() != 0 || !sink.ConnectAndRun(source)) std::fprintf(stderr, "sink did not start\n");
    sink.WaitUntilSent(source);
    Run run{std::chrono::duration<double>(sink.LastSendTime() - began).count(), ProcessCpu() - cpu};
    bytesSent = sink.BytesSent();
    sink.StopGraph(source);
    sink.Control()->Disconnect();
    source->Release();
    return run;
}

Run PublishWithFfmpeg(const std::string& file)
{
    auto began = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        std::string url = std::string("rtmp://") + kAddress + "/live/reference";
        execlp("ffmpeg", "ffmpeg", "-v", "error", "-i", file.c_str(), "-c", "copy", "-f", "flv", url.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - began).count(), Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

Run Median(std::vector<Run> runs)
{
    auto middle = [&](auto field) {
        std::vector<double> values;
        for (const Run& run : runs) values.push_back(run.*field);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {middle(&Run::wall), middle(&Run::cpu)};
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "/tmp/veltro-rtmpsink-bench";
    Shell("mkdir -p " + dir + " && chmod 755 " + dir);
    std::string file = dir + "/1080p60s.flv";
    struct stat info{};
    if (stat(file.c_str(), &info) != 0) {
        std::printf("encoding the 60-second 1080p source once (kept in %s)...\n", dir.c_str());
        Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi -i "
              "sine=frequency=440:sample_rate=44100 -t 60 -c:v libx264 -preset superfast -b:v 6M -bf 2 -g 60 "
              "-pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -f flv " + file);
    }
    EncodedStreams streams = ReadFlvFile(file);
    if (streams.video.empty()) {
        std::fprintf(stderr, "no source stream in %s\n", file.c_str());
        return 1;
    }
    Nginx nginx(dir + "/nginx");
    // Alternating rounds; the median of each side evens out a busy machine.
    constexpr int kRounds = 5;
    std::vector<Run> sinkRuns, ffmpegRuns;
    uint64_t bytes = 0;
    for (int round = 0; round < kRounds; ++round) {
        sinkRuns.push_back(PublishThroughSink(streams, bytes));
        ffmpegRuns.push_back(PublishWithFfmpeg(file));
    }
    Run sink = Median(sinkRuns);
    Run ffmpeg = Median(ffmpegRuns);
    double megabytes = bytes / 1e6;
    std::printf("published %.1f MB (%zu video, %zu audio samples)\n", megabytes, streams.video.size(),
                streams.audio.size());
    std::printf("medians of %d alternating rounds\n", kRounds);
    std::printf("KeshRTMPSink: wall %.3f s (%.0f MB/s), cpu %.3f s\n", sink.wall, megabytes / sink.wall, sink.cpu);
    std::printf("ffmpeg -c copy: wall %.3f s (%.0f MB/s), cpu %.3f s\n", ffmpeg.wall, megabytes / ffmpeg.wall,
                ffmpeg.cpu);
    std::printf("ratio sink/ffmpeg: wall %.2f, cpu %.2f (below 1 is faster than ffmpeg)\n", sink.wall / ffmpeg.wall,
                sink.cpu / ffmpeg.cpu);
    return 0;
}
