// Plane scaling and frame conversion of the scaler against libswscale and libyuv on the same
// input, in one run; prints the time ratios at the end (below 1.0: the scaler is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#include <libyuv.h>

#include "convert/frame_converter.h"
#include "kernels/resampling.h"

namespace {

struct Size {
    int w, h;
};
const Size kSizes[2][2] = {{{1920, 1080}, {1280, 720}}, {{1280, 720}, {1920, 1080}}};
const char* const kKernels[3] = {"Sharp", "Precise", "Lanczos"};

std::vector<uint8_t> Noise(size_t n)
{
    std::vector<uint8_t> v(n);
    std::mt19937 gen(7);
    // Smooth content with some noise, like a picture.
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 7 / 5 + (gen() & 15)) & 255);
    return v;
}

std::string Direction(int d) { return d == 0 ? "down" : "up"; }

void Scalvo(benchmark::State& state, int method, int direction, uint32_t mask)
{
    auto [s, d] = kSizes[direction];
    auto src = Noise(size_t(s.w) * s.h);
    std::vector<uint8_t> dst(size_t(d.w) * d.h);
    auto r = CreateResampler(method);
    r->Initialize(s.h, s.w, d.h, d.w, mask);
    for (auto _ : state) {
        r->Process(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
}

void Swscale(benchmark::State& state, int flags, int direction)
{
    auto [s, d] = kSizes[direction];
    auto src = Noise(size_t(s.w) * s.h);
    std::vector<uint8_t> dst(size_t(d.w) * d.h);
    SwsContext* ctx = sws_getContext(s.w, s.h, AV_PIX_FMT_GRAY8, d.w, d.h, AV_PIX_FMT_GRAY8, flags, nullptr, nullptr,
                                     nullptr);
    const uint8_t* srcPlanes[1] = {src.data()};
    uint8_t* dstPlanes[1] = {dst.data()};
    int srcStride[1] = {s.w}, dstStride[1] = {d.w};
    for (auto _ : state) {
        sws_scale(ctx, srcPlanes, srcStride, 0, s.h, dstPlanes, dstStride);
        benchmark::DoNotOptimize(dst.data());
    }
    sws_freeContext(ctx);
}

void Libyuv(benchmark::State& state, libyuv::FilterMode mode, int direction)
{
    auto [s, d] = kSizes[direction];
    auto src = Noise(size_t(s.w) * s.h);
    std::vector<uint8_t> dst(size_t(d.w) * d.h);
    for (auto _ : state) {
        libyuv::ScalePlane(src.data(), s.w, s.w, s.h, dst.data(), d.w, d.w, d.h, mode);
        benchmark::DoNotOptimize(dst.data());
    }
}

int64_t BenchStride(PixelFormat f, uint32_t w)
{
    return f == PixelFormat::YV12 || f == PixelFormat::YV16 ? int64_t(w) : int64_t(w) * InfoOf(f).bitCount / 8;
}

// Whole frames through the filter's converter: w x h of one format into dw x dh of another,
// with the kernel `method` on the workers of `mask` (same sizes: a conversion without kernels).
void Frame(benchmark::State& state, PixelFormat from, PixelFormat to, Size s, Size d, int method, uint32_t mask)
{
    auto describe = [](PixelFormat f) { return DescribeFormat(CodeOf(f, true), false); };
    GeometryInput input{uint32_t(s.w), uint32_t(s.h), uint32_t(d.w), uint32_t(d.h), describe(from), describe(to), false};
    SCALVO_Config c{};
    c.sourceWidth = uint16_t(s.w);
    c.sourceHeight = uint16_t(s.h);
    c.sourceArWidth = 16;
    c.sourceArHeight = 9;
    c.resizingMethod = uint32_t(method);
    c.colorConversion = -1;
    FrameConverter converter;
    converter.Configure(c, input, mask);
    auto src = Noise(PictureBytes(input.in, BenchStride(from, s.w), s.h));
    std::vector<uint8_t> dst(PictureBytes(input.out, BenchStride(to, d.w), d.h));
    for (auto _ : state) {
        converter.Convert(src.data(), BenchStride(from, s.w), dst.data(), BenchStride(to, d.w));
        benchmark::DoNotOptimize(dst.data());
    }
}

void Convert(benchmark::State& state, PixelFormat from, PixelFormat to)
{
    Frame(state, from, to, {1920, 1080}, {1920, 1080}, 1, 1);
}

// The same frame conversion by sws_scale in one thread.
void SwscaleFrame(benchmark::State& state, AVPixelFormat from, AVPixelFormat to, Size s, Size d, int flags)
{
    uint8_t* srcData[4] = {};
    uint8_t* dstData[4] = {};
    int srcLines[4] = {}, dstLines[4] = {};
    const int srcBytes = av_image_alloc(srcData, srcLines, s.w, s.h, from, 64);
    av_image_alloc(dstData, dstLines, d.w, d.h, to, 64);
    const auto noise = Noise(size_t(srcBytes));
    std::copy(noise.begin(), noise.end(), srcData[0]);
    SwsContext* ctx = sws_getContext(s.w, s.h, from, d.w, d.h, to, flags, nullptr, nullptr, nullptr);
    for (auto _ : state) {
        sws_scale(ctx, srcData, srcLines, 0, s.h, dstData, dstLines);
        benchmark::DoNotOptimize(dstData[0]);
    }
    sws_freeContext(ctx);
    av_freep(&srcData[0]);
    av_freep(&dstData[0]);
}

struct FramePath {
    const char* name;
    PixelFormat from, to;
    AVPixelFormat swsFrom, swsTo;
};
const FramePath kFramePaths[] = {
    {"YV12_to_YV12", PixelFormat::YV12, PixelFormat::YV12, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
    {"YUY2_to_YUY2", PixelFormat::YUY2, PixelFormat::YUY2, AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422},
    {"YUY2_to_YV12", PixelFormat::YUY2, PixelFormat::YV12, AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV420P},
    {"RGB24_to_YV12", PixelFormat::RGB24, PixelFormat::YV12, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P}};

// libyuv's packed-to-I420 calls, which share one signature.
using PackedToI420 = int (*)(const uint8_t*, int, uint8_t*, int, uint8_t*, int, uint8_t*, int, int, int);

void LibyuvToI420(benchmark::State& state, PackedToI420 convert, int bytesPerPixel)
{
    const int w = 1920, h = 1080;
    auto src = Noise(size_t(w) * h * bytesPerPixel);
    std::vector<uint8_t> dst(size_t(w) * h * 3 / 2);
    for (auto _ : state)
        convert(src.data(), w * bytesPerPixel, dst.data(), w, dst.data() + w * h, w / 2, dst.data() + w * h * 5 / 4,
                w / 2, w, h);
}

void LibyuvI420ToArgb(benchmark::State& state)
{
    const int w = 1920, h = 1080;
    auto src = Noise(size_t(w) * h * 3 / 2);
    std::vector<uint8_t> dst(size_t(w) * h * 4);
    for (auto _ : state)
        libyuv::I420ToARGB(src.data(), w, src.data() + w * h, w / 2, src.data() + w * h * 5 / 4, w / 2, dst.data(),
                           w * 4, w, h);
}

void Register()
{
    const uint32_t all = ProcessAffinityMask();
    const int swsFlags[3] = {SWS_BILINEAR, SWS_BICUBIC, SWS_LANCZOS};
    for (int dir = 0; dir < 2; ++dir) {
        for (int k = 0; k < 3; ++k) {
            const std::string tail = "/" + std::string(kKernels[k]) + "/" + Direction(dir);
            benchmark::RegisterBenchmark(("scalvo_1worker" + tail).c_str(), Scalvo, k, dir, 1u)->MeasureProcessCPUTime();
            benchmark::RegisterBenchmark(("scalvo_allworkers" + tail).c_str(), Scalvo, k, dir, all)
                ->MeasureProcessCPUTime()
                ->UseRealTime();
            benchmark::RegisterBenchmark(("swscale" + tail).c_str(), Swscale, swsFlags[k], dir)->MeasureProcessCPUTime();
        }
        benchmark::RegisterBenchmark(("libyuv/Bilinear/" + Direction(dir)).c_str(), Libyuv, libyuv::kFilterBilinear, dir)
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("libyuv/Box/" + Direction(dir)).c_str(), Libyuv, libyuv::kFilterBox, dir)
            ->MeasureProcessCPUTime();
    }
    for (const FramePath& path : kFramePaths)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 3; ++k) {
                auto [s, d] = kSizes[dir];
                const std::string tail = std::string(path.name) + "/" + kKernels[k] + "/" + Direction(dir);
                benchmark::RegisterBenchmark(("frame_1worker/" + tail).c_str(), Frame, path.from, path.to, s, d, k, 1u)
                    ->MeasureProcessCPUTime();
                benchmark::RegisterBenchmark(("frame_allworkers/" + tail).c_str(), Frame, path.from, path.to, s, d, k,
                                             all)
                    ->MeasureProcessCPUTime()
                    ->UseRealTime();
                benchmark::RegisterBenchmark(("frame_swscale/" + tail).c_str(), SwscaleFrame, path.swsFrom, path.swsTo,
                                             s, d, swsFlags[k])
                    ->MeasureProcessCPUTime();
            }
    benchmark::RegisterBenchmark("scalvo/YUY2_to_YV12", Convert, PixelFormat::YUY2, PixelFormat::YV12)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("libyuv/YUY2ToI420", LibyuvToI420, libyuv::YUY2ToI420, 2)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("scalvo/RGB24_to_YUY2", Convert, PixelFormat::RGB24, PixelFormat::YUY2)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("libyuv/RGB24ToI420", LibyuvToI420, libyuv::RGB24ToI420, 3)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("scalvo/YV12_to_RGB32", Convert, PixelFormat::YV12, PixelFormat::RGB32)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("libyuv/I420ToARGB", LibyuvI420ToArgb)->MeasureProcessCPUTime();
}

// Keeps the best time of each benchmark over its repetitions (the machine is shared, so the
// minimum is the least disturbed figure) and prints the ratios after the console report.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.run_name.str();
            Keep(cpu, name, run.GetAdjustedCPUTime());
            Keep(wall, name, run.GetAdjustedRealTime());
        }
    }
    // Process CPU time (all threads): on a shared machine it is what one worker costs, free of
    // the time the scheduler gives to others. Wall time is what the workers' split gains.
    double Cpu(const std::string& prefix) const { return Find(cpu, prefix); }
    double Wall(const std::string& prefix) const { return Find(wall, prefix); }

private:
    static void Keep(std::map<std::string, double>& times, const std::string& name, double t)
    {
        auto it = times.find(name);
        if (it == times.end() || t < it->second) times[name] = t;
    }
    static double Find(const std::map<std::string, double>& times, const std::string& prefix)
    {
        for (const auto& [name, t] : times)
            if (name.rfind(prefix, 0) == 0) return t;
        return 0;
    }
    std::map<std::string, double> cpu, wall;
};

void PrintRatios(const RatioReporter& r)
{
    // all-workers cpu / 1-worker cpu near 1.0 means the split costs little; a wall-time speedup
    // well below the worker count then comes from other processes holding the cores.
    std::printf("\n%-28s %10s %10s %12s %12s %12s %14s\n", "kernel (cpu ms)", "1w ms", "swscale", "1w/swscale",
                "2w speedup", "2w/1w cpu", "1w/libyuv-bil");
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 3; ++k) {
            const std::string tail = "/" + std::string(kKernels[k]) + "/" + Direction(dir);
            double one = r.Cpu("scalvo_1worker" + tail), sws = r.Cpu("swscale" + tail),
                   yuv = r.Cpu("libyuv/Bilinear/" + Direction(dir));
            double speedup = r.Wall("scalvo_1worker" + tail) / r.Wall("scalvo_allworkers" + tail);
            std::printf("%-28s %10.3f %10.3f %12.2f %12.2f %12.2f %14.2f\n", tail.c_str() + 1, one / 1e6, sws / 1e6,
                        one / sws, speedup, r.Cpu("scalvo_allworkers" + tail) / one, one / yuv);
        }
    std::printf("\n%-32s %10s %10s %14s %12s %12s\n", "whole frame (cpu ms)", "1w ms", "swscale", "swscale/1w",
                "2w speedup", "2w/1w cpu");
    for (const FramePath& path : kFramePaths)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 3; ++k) {
                const std::string tail = std::string(path.name) + "/" + kKernels[k] + "/" + Direction(dir);
                const double one = r.Cpu("frame_1worker/" + tail), sws = r.Cpu("frame_swscale/" + tail);
                if (one == 0) continue;  // filtered out of this run
                std::printf("%-32s %10.3f %10.3f %14.2f %12.2f %12.2f\n", tail.c_str(), one / 1e6, sws / 1e6, sws / one,
                            r.Wall("frame_1worker/" + tail) / r.Wall("frame_allworkers/" + tail),
                            r.Cpu("frame_allworkers/" + tail) / one);
            }
    const char* pairs[3][2] = {{"scalvo/YUY2_to_YV12", "libyuv/YUY2ToI420"},
                               {"scalvo/RGB24_to_YUY2", "libyuv/RGB24ToI420"},
                               {"scalvo/YV12_to_RGB32", "libyuv/I420ToARGB"}};
    std::printf("\n%-28s %10s %10s %8s\n", "conversion", "scalvo ms", "libyuv ms", "ratio");
    for (auto& p : pairs) {
        double a = r.Cpu(p[0]), b = r.Cpu(p[1]);
        std::printf("%-28s %10.3f %10.3f %8.2f\n", p[0], a / 1e6, b / 1e6, a / b);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Register();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
