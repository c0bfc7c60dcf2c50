#include "x264_settings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

#include "common/registry_values.h"

X264Settings ReadX264Settings()
{
    RegistryDwords values(kX264SettingsKey);
    X264Settings s;
    s.level = values.Get("Level", s.level);
    s.bitrate = values.Get("Bitrate", s.bitrate);
    s.vbvMaxRate = values.Get("VBVMaxRate", s.vbvMaxRate);
    s.vbvSize = values.Get("VBVSize", s.vbvSize);
    s.rcMethod = values.Get("RCMethod ", s.rcMethod);  // the stored name ends with a blank
    s.qpConst = values.Get("QPConst", s.qpConst);
    s.qpMin = values.Get("QPMin", s.qpMin);
    s.qpMax = values.Get("QPMax", s.qpMax);
    s.tolerance = values.Get("Tolerance", s.tolerance);
    s.keyIntMin = values.Get("KeyIntMin", s.keyIntMin);
    s.keyIntMax = values.Get("KeyIntMax", s.keyIntMax);
    s.bFrames = values.Get("BFrames", s.bFrames);
    s.bAdaptive = values.Get("BAdaptive", s.bAdaptive);
    s.bPyramid = values.Get("BPyramid", s.bPyramid);
    s.refFrames = values.Get("RefFrames", s.refFrames);
    s.cabac = values.Get("CABAC", s.cabac);
    s.deblock = values.Get("Deblock", s.deblock);
    s.deblockStrength = values.Get("DeblockStrength", s.deblockStrength);
    s.subpixel = values.Get("Subpixel", s.subpixel);
    s.partitionsIntra = values.Get("PartitionsIntra", s.partitionsIntra);
    s.partitionsInter = values.Get("PartitionsInter", s.partitionsInter);
    s.trellis = values.Get("Trellis", s.trellis);
    s.weightedPred = values.Get("WeightedPred", s.weightedPred);
    s.directMV = values.Get("DirectMV", s.directMV);
    s.mixedRefs = values.Get("MixedRefs", s.mixedRefs);
    s.interlaced = values.Get("Interlaced", s.interlaced);
    s.slicedThreading = values.Get("SlicedThreading", s.slicedThreading);
    s.parallel = values.Get("Parallel", s.parallel);
    s.aud = values.Get("AUD", s.aud);
    s.annexB = values.Get("AnnexB", s.annexB);
    s.intraRefresh = values.Get("IntraRefresh", s.intraRefresh);
    return s;
}

int LevelIdcForPosition(int32_t position)
{
    // "Level 1", "Level 1b", "Level 1.1" ... "Level 5.1"; x264 writes 1b as level_idc 9.
    static constexpr std::array<int, 16> kLevelIdc = {10, 9, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51};
    if (position < 0 || position >= static_cast<int32_t>(kLevelIdc.size())) return -1;
    return kLevelIdc[position];
}

namespace {

int Clamp(int32_t value, int low, int high) { return std::clamp<int>(value, low, high); }

// "no subpixel", "half-pixel low/high", "quarter-pixel low/high" onto x264's subme scale.
int SubpelRefine(int32_t position)
{
    static constexpr std::array<int, 5> kSubme = {0, 1, 2, 4, 6};
    return kSubme[Clamp(position, 0, 4)];
}

// Each frame thread holds one more frame back; x264's own choice (1.5 per core) would add
// latency on a small machine without adding speed.
int FrameThreads()
{
    return Clamp(static_cast<int32_t>(std::thread::hardware_concurrency()), 1, kMaxFrameThreads);
}

// x264 declares the level it is given but keeps the reference frames it is given too, even
// when the level's picture buffer cannot hold them at this size; strict hardware decoders
// refuse such a stream. As x264's own command line does, fewer references keep the level.
void CapReferencesToLevel(x264_param_t* p)
{
    if (p->i_level_idc <= 0) return;
    const int macroblocks = ((p->i_width + 15) / 16) * ((p->i_height + 15) / 16);
    for (const x264_level_t* level = x264_levels; level->level_idc; ++level) {
        if (level->level_idc != p->i_level_idc) continue;
        const int allowed = std::max(1, level->dpb / macroblocks);
        if (p->i_frame_reference > allowed) {
            std::fprintf(stderr, "x264 Encoder: level %d.%d holds %d reference frames at %dx%d; using %d instead of %d\n",
                         p->i_level_idc / 10, p->i_level_idc % 10, allowed, p->i_width, p->i_height, allowed,
                         p->i_frame_reference);
            p->i_frame_reference = allowed;
        }
        return;
    }
}

}  // namespace

void ApplyX264Settings(const X264Settings& s, int width, int height, uint32_t fpsNum, uint32_t fpsDen,
                       x264_param_t* p)
{
    // veryfast's hexagon search and its analysis keep 720p well ahead of real time on two
    // cores; the stored values then replace what they name.
    x264_param_default_preset(p, kX264Preset, nullptr);
    // A live stream cannot wait for frames to come: no rate-control look-ahead (and so no
    // macroblock tree), no look-ahead buffer between threads. What stays is the delay of the
    // B-frames and of the frame threads.
    p->rc.i_lookahead = 0;
    p->rc.b_mb_tree = 0;
    p->i_sync_lookahead = 0;
    p->i_csp = X264_CSP_I420;
    p->i_width = width;
    p->i_height = height;
    p->i_fps_num = fpsNum;
    p->i_fps_den = fpsDen;
    p->i_timebase_num = 1;
    p->i_timebase_den = 10000000;
    // Rate control by the frames' time stamps: at half frame rate, or after frames dropped
    // for lateness, each frame that does come gets the bits of the time it stands for.
    p->b_vfr_input = 1;
    p->b_repeat_headers = 0;  // SPS and PPS travel in the media type
    p->b_annexb = 0;          // 4-byte big-endian lengths before each NAL unit
    p->i_log_level = X264_LOG_ERROR;
    p->i_level_idc = LevelIdcForPosition(s.level);

    switch (s.rcMethod) {
    case 1:
        p->rc.i_rc_method = X264_RC_CQP;
        p->rc.i_qp_constant = Clamp(s.qpConst, 0, 51);
        break;
    case 2:
        p->rc.i_rc_method = X264_RC_CRF;
        p->rc.f_rf_constant = static_cast<float>(Clamp(s.qpConst, 0, 51));
        break;
    default:
        p->rc.i_rc_method = X264_RC_ABR;
        p->rc.i_bitrate = std::max(1, s.bitrate);
        break;
    }
    if (p->rc.i_rc_method != X264_RC_CQP) {
        p->rc.i_vbv_max_bitrate = std::max(0, s.vbvMaxRate);
        p->rc.i_vbv_buffer_size = std::max(0, s.vbvSize);
    }
    p->rc.i_qp_min = Clamp(s.qpMin, 0, 51);
    p->rc.i_qp_max = Clamp(std::max(s.qpMax, s.qpMin), 0, 51);
    p->rc.f_rate_tolerance = static_cast<float>(std::max(1, s.tolerance)) / 10.0f;  // 10 = x264's 1.0

    p->i_keyint_max = std::max(1, s.keyIntMax);
    p->i_keyint_min = Clamp(s.keyIntMin, 1, p->i_keyint_max);
    p->i_bframe = Clamp(s.bFrames, 0, 16);
    p->i_bframe_adaptive = Clamp(s.bAdaptive, 0, 2);
    p->i_bframe_pyramid = Clamp(s.bPyramid, 0, 2);
    p->i_frame_reference = Clamp(s.refFrames, 1, 16);
    CapReferencesToLevel(p);
    p->b_cabac = s.cabac != 0;
    p->b_deblocking_filter = s.deblock != 0;
    p->i_deblocking_filter_alphac0 = Clamp(s.deblockStrength, -6, 6);
    p->i_deblocking_filter_beta = p->i_deblocking_filter_alphac0;
    p->analyse.i_subpel_refine = SubpelRefine(s.subpixel);

    const unsigned intra = s.partitionsIntra != 0 ? X264_ANALYSE_I4x4 | X264_ANALYSE_I8x8 : 0;
    unsigned inter = 0;
    if (s.partitionsInter >= 1) inter |= X264_ANALYSE_PSUB16x16 | X264_ANALYSE_BSUB16x16;
    if (s.partitionsInter >= 2) inter |= X264_ANALYSE_PSUB8x8;
    p->analyse.intra = intra;
    p->analyse.inter = intra | inter;
    p->analyse.b_transform_8x8 = s.partitionsIntra != 0;

    p->analyse.i_trellis = Clamp(s.trellis, 0, 2);
    p->analyse.i_weighted_pred = Clamp(s.weightedPred, 0, 2);
    p->analyse.b_weighted_bipred = s.weightedPred != 0;
    p->analyse.i_direct_mv_pred = Clamp(s.directMV, 0, 3);
    p->analyse.b_mixed_references = s.mixedRefs != 0;
    p->b_interlaced = 0;  // "Interlaced" asks for a deinterlaced input: the pictures are coded progressive
    p->b_sliced_threads = s.slicedThreading != 0;
    p->i_threads = s.parallel != 0 ? FrameThreads() : 1;
    p->b_aud = s.aud != 0;
    p->b_intra_refresh = s.intraRefresh != 0;
}
