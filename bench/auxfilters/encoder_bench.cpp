// Prints, for the H.264 encoder with the default registry values at 720p and 1080p on a
// moving picture: frames per second, CPU time per frame, the frames it holds back, and its
// CPU time divided by that of ffmpeg's libx264 on the same frames with the same x264
// options (checked against the options x264 records in the stream); then the AAC encoder's
// speed as a multiple of real time. CPU time, unlike wall time, stays meaningful while other
// work shares the machine.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "aac/aac_encoder.h"
#include "h264/h264_encoder.h"
#include "test_support.h"

namespace {

constexpr int64_t kFrame30 = 333333;

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The x264-params that make ffmpeg's libx264, started from the same preset, use the options
// that ApplyX264Settings chose (':' separates options, so deblocking takes "a,b").
std::string FfmpegX264Params(const x264_param_t& p)
{
    std::ostringstream o;
    auto add = [&o](const char* name, auto value) { o << name << '=' << value << ':'; };
    add("level", p.i_level_idc);
    if (p.rc.i_rc_method == X264_RC_CQP) add("qp", p.rc.i_qp_constant);
    else if (p.rc.i_rc_method == X264_RC_CRF) add("crf", p.rc.f_rf_constant);
    else add("bitrate", p.rc.i_bitrate);
    add("vbv-maxrate", p.rc.i_vbv_max_bitrate);
    add("vbv-bufsize", p.rc.i_vbv_buffer_size);
    add("qpmin", p.rc.i_qp_min);
    add("qpmax", p.rc.i_qp_max);
    add("ratetol", p.rc.f_rate_tolerance);
    add("keyint", p.i_keyint_max);
    add("min-keyint", p.i_keyint_min);
    add("bframes", p.i_bframe);
    add("b-adapt", p.i_bframe_adaptive);
    add("b-pyramid", x264_b_pyramid_names[p.i_bframe_pyramid]);
    add("ref", p.i_frame_reference);
    add("cabac", p.b_cabac);
    if (p.b_deblocking_filter) o << "deblock=" << p.i_deblocking_filter_alphac0 << ',' << p.i_deblocking_filter_beta << ':';
    else add("no-deblock", 1);
    add("subme", p.analyse.i_subpel_refine);
    std::string partitions;
    const std::pair<unsigned, const char*> kinds[] = {{X264_ANALYSE_I4x4, "i4x4"}, {X264_ANALYSE_I8x8, "i8x8"},
                                                      {X264_ANALYSE_PSUB16x16, "p8x8"}, {X264_ANALYSE_PSUB8x8, "p4x4"},
                                                      {X264_ANALYSE_BSUB16x16, "b8x8"}};
    for (const auto& [flag, name] : kinds)
        if (p.analyse.inter & flag) partitions += std::string(partitions.empty() ? "" : ",") + name;
    add("partitions", partitions.empty() ? "none" : partitions);
    add("8x8dct", p.analyse.b_transform_8x8);
    add("trellis", p.analyse.i_trellis);
    add("weightp", p.analyse.i_weighted_pred);
    add("weightb", p.analyse.b_weighted_bipred);
    add("direct", x264_direct_pred_names[p.analyse.i_direct_mv_pred]);
    add("mixed-refs", p.analyse.b_mixed_references);
    if (p.b_interlaced) add("tff", 1);
    add("threads", p.i_threads);
    add("sliced-threads", p.b_sliced_threads);
    add("rc-lookahead", p.rc.i_lookahead);
    add("sync-lookahead", p.i_sync_lookahead);
    add("mbtree", p.rc.b_mb_tree);
    add("aud", p.b_aud);
    o << "intra-refresh=" << p.b_intra_refresh;
    return o.str();
}

// The option list x264 records in its version SEI, or "" when the bytes hold none.
std::string RecordedOptions(const std::string& bytes)
{
    const size_t at = bytes.find("options: ");
    if (at == std::string::npos) return "";
    const size_t end = bytes.find('\0', at);
    return bytes.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9);
}

std::string OurOptions(const x264_param_t& param)
{
    x264_param_t copy = param;
    x264_t* encoder = x264_encoder_open(&copy);
    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_encoder_headers(encoder, &nals, &count);
    std::string options;
    for (int i = 0; i < count; ++i)
        if (nals[i].i_type == NAL_SEI)
            options = RecordedOptions(std::string(reinterpret_cast<char*>(nals[i].p_payload), nals[i].i_payload));
    x264_encoder_close(encoder);
    return options;
}

// The words of `a` that `b` lacks.
std::string Missing(const std::string& a, const std::string& b)
{
    std::istringstream words(a);
    std::string word, missing;
    while (words >> word)
        if ((" " + b + " ").find(" " + word + " ") == std::string::npos) missing += " " + word;
    return missing;
}

void BenchH264(int width, int height, int count, const std::string& scratch)
{
    std::vector<std::vector<uint8_t>> frames;
    const std::string raw = scratch + "/frames.yuv";
    std::ofstream file(raw, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        frames.push_back(MovingPictureI420(width, height, i));
        file.write(reinterpret_cast<const char*>(frames.back().data()), static_cast<std::streamsize>(frames.back().size()));
    }
    file.close();

    const X264Settings settings = ReadX264Settings();
    auto encoder = H264Encoder::Create(settings, {PixelLayout::I420, width, height, width, false}, kFrame30,
                                       nullptr);
    std::vector<EncodedFrame> out;
    int heldBack = -1;
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto wallBefore = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        encoder->Encode(frames[i].data(), frames[i].size(), i * kFrame30, &out);
        if (heldBack < 0 && !out.empty()) heldBack = i;
    }
    encoder->Flush(&out);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;

    x264_param_t param;
    ApplyX264Settings(settings, width, height, 30, 1, &param);
    const std::string stream = scratch + "/ffmpeg.h264";
    const std::string command = "ffmpeg -nostdin -y -v error -f rawvideo -pix_fmt yuv420p -s " + std::to_string(width) +
                                "x" + std::to_string(height) + " -r 30 -i " + raw + " -c:v libx264 -preset " +
                                kX264Preset + " -x264-params '" + FfmpegX264Params(param) + "' -f h264 " + stream;
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    RunCommand(command);
    const double ffmpegCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
    std::ifstream encoded(stream, std::ios::binary);
    const std::string theirs = RecordedOptions(std::string(std::istreambuf_iterator<char>(encoded), {}));
    const std::string ours = OurOptions(param);

    std::printf("h264 %dx%d, %d frames: %.1f fps, %.1f ms CPU per frame, first frame out after %d in; "
                "ffmpeg libx264 %.1f ms CPU per frame; ratio %.2f\n",
                width, height, count, count / wall, cpu * 1000 / count, heldBack, ffmpegCpu * 1000 / count,
                cpu / ffmpegCpu);
    if (ours == theirs) std::printf("  same x264 options: %s\n", ours.c_str());
    else std::printf("  x264 options differ: ours only [%s ], ffmpeg only [%s ]\n", Missing(ours, theirs).c_str(),
                     Missing(theirs, ours).c_str());
}

void BenchAac()
{
    const int rate = 44100, seconds = 60;
    std::vector<int16_t> pcm(static_cast<size_t>(rate) * 2 * seconds);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(i * 0.031) + 3000 * std::sin(i * 0.17));
    auto encoder = AacEncoder::Create(rate, 2, 128000, nullptr);
    std::vector<EncodedFrame> out;
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto before = std::chrono::steady_clock::now();
    const int chunk = rate / 100;
    for (int at = 0; at < rate * seconds; at += chunk)
        encoder->Encode(pcm.data() + static_cast<size_t>(at) * 2, chunk, at * 10000000LL / rate, &out);
    encoder->Flush(&out);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    std::printf("aac 44100 Hz stereo 128 kbit/s: %.0fx real time (%.0fx per CPU second)\n", seconds / wall, seconds / cpu);
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
