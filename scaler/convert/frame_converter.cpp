#include "convert/frame_converter.h"

#include <algorithm>

namespace {
// The converter's kinds of job.
constexpr uint8_t kUnpackBand = 0;
constexpr uint8_t kResampleBand = 1;
constexpr uint8_t kConvertBand = 2;
}  // namespace

void FrameConverter::Configure(const SCALVO_Config& cfg, const GeometryInput& input, uint32_t mask)
{
    cfg_ = cfg;
    input_ = input;
    geometry_ = ComputeGeometry(cfg, input);
    layout_ = ChooseWorkingLayout(input.in, input.out);
    const GeometryState& g = geometry_;
    pool_.Stop();
    for (auto& r : resamplers_) r.reset();
    configured_ = true;
    if (!g.HasPicture()) return;

    inPlanes_.Allocate(layout_.planeCount, g.srcRegionWidth, g.srcRegionHeight, layout_.hShift, layout_.vShift);
    outPlanes_.Allocate(layout_.planeCount, g.regionWidth, g.regionHeight, layout_.hShift, layout_.vShift);
    vbiPlanes_.Allocate(layout_.planeCount, 720, kVbiLines, layout_.hShift, layout_.vShift);
    const uint32_t processors = mask ? mask : ProcessAffinityMask();
    pool_.Start(processors, [this](const ResampleJob& job) { RunBand(job); });
    if (g.copyOnly) return;

    const bool panorama = IsOn(cfg.arChangeOn) && cfg.arMethod == kArPanorama;
    const WorkPlanes& src = inPlanes_.Planes();
    const WorkPlanes& dst = outPlanes_.Planes();
    for (uint32_t p = 0; p < layout_.planeCount; ++p) {
        resamplers_[p] = CreateResampler(p < 3 ? int(cfg.resizingMethod) : -1);
        if (!resamplers_[p]) resamplers_[p] = CreateResampler(1);
        resamplers_[p]->UseCallerThreads();
        if (panorama)
            resamplers_[p]->InitializePanorama(src.height[p], src.width[p], dst.height[p], dst.width[p], processors,
                                               g.horizontalCoefficient, g.verticalCoefficient);
        else
            resamplers_[p]->Initialize(src.height[p], src.width[p], dst.height[p], dst.width[p], processors);
    }
}

void FrameConverter::SetBands(uint32_t batch, uint32_t total, uint8_t kind)
{
    const uint32_t n = pool_.WorkerCount();
    const uint32_t align = 8u << layout_.vShift;
    auto boundary = [&](uint32_t k) {
        const uint32_t b = BandBoundary(k, n, total, align);
        return uint16_t(layout_.vShift && b > 0 && b + 1 == total ? total : b);
    };
    for (uint32_t k = 0; k < n; ++k) pool_.Job(batch, k) = {boundary(k), boundary(k + 1), kind, 0};
}

void FrameConverter::ConvertField(const Picture& src, const Picture& dst, uint32_t topBorder)
{
    const GeometryState& g = geometry_;
    const Region source{uint32_t(g.srcLeft), uint32_t(g.srcTop), uint32_t(g.srcRegionWidth),
                        uint32_t(g.srcRegionHeight)};
    const bool sameFormat = FormatOfCode(input_.in.code) == FormatOfCode(input_.out.code);
    if (g.copyOnly && sameFormat) {
        CopyRegion(src, input_.in, source, dst, g.borderLeft, topBorder);
        return;
    }
    const Region target{uint32_t(g.borderLeft), topBorder, uint32_t(g.regionWidth), uint32_t(g.regionHeight)};
    if (g.copyOnly) {
        // Bands of rows over two or more workers, each through its own rows of the work planes
        // if any. A single worker would only add its wake-up (measured: 12-18 % more CPU time
        // per 1080p frame), so then the caller converts, as it always did.
        if (pool_.WorkerCount() < 2) return ConvertFormat(src, source, dst, target, inPlanes_.Planes());
        work_ = FieldWork{src, dst, source, target, inPlanes_.Planes(), {}, false, false};
        SetBands(0, source.height, kConvertBand);
        pool_.RunJobs(1);
        return;
    }
    // A planar side with the planes' layout is read or written by the resamplers in place.
    const bool readsPicture = direct_ && ServesAsPlanes(input_.in, layout_);
    const bool writesPicture = direct_ && ServesAsPlanes(input_.out, layout_);
    const WorkPlanes from = readsPicture ? PlanesOf(src, input_.in, source) : inPlanes_.Planes();
    const WorkPlanes to = writesPicture ? PlanesOf(dst, input_.out, target) : outPlanes_.Planes();
    work_ = FieldWork{src, dst, source, target, from, to, !readsPicture, !writesPicture};
    for (uint32_t p = 0; p < layout_.planeCount; ++p)
        resamplers_[p]->Bind(from.plane[p], from.stride[p], to.plane[p], to.stride[p]);

    // Each worker unpacks about the source rows its destination rows read (they stay in its
    // cache); all of them must be there before any is resampled. Then each worker takes its
    // destination rows through every plane and packs them while they are still in the cache.
    uint32_t batch = 0;
    if (work_.unpacks) SetBands(batch++, source.height, kUnpackBand);
    SetBands(batch, target.height, kResampleBand);
    pool_.RunJobs(batch + 1);
}

void FrameConverter::RunBand(const ResampleJob& job)
{
    const FieldWork& w = work_;
    const uint32_t rows = job.last - job.first;
    if (rows == 0) return;
    if (job.pass == kConvertBand) {
        ConvertFormat(w.src, Region{w.source.left, w.source.top + job.first, w.source.width, rows}, w.dst,
                      Region{w.target.left, w.target.top + job.first, w.target.width, rows},
                      w.from.Rows(job.first, rows, layout_.vShift));
        return;
    }
    if (job.pass == kUnpackBand) {
        const Region band{w.source.left, w.source.top + job.first, w.source.width, rows};
        UnpackRegion(w.src, input_.in, band, layout_, w.from.Rows(job.first, rows, layout_.vShift));
        return;
    }
    for (uint32_t p = 0; p < layout_.planeCount; ++p) {
        const uint16_t shift = p == 1 || p == 2 ? layout_.vShift : 0;
        resamplers_[p]->RunRows(job.first >> shift, job.last >> shift);
    }
    if (w.packs) {
        const Region band{w.target.left, w.target.top + job.first, w.target.width, rows};
        PackRegion(w.to.Rows(job.first, rows, layout_.vShift), layout_, w.dst, input_.out, band);
    }
}

void FrameConverter::ConvertFormat(const Picture& src, Region source, const Picture& dst, Region target,
                                   const WorkPlanes& in)
{
    // A planar side with the planes' layout is read or written in place; RGB to packed YUV
    // needs no planes at all.
    if (direct_ && ServesAsPlanes(input_.out, layout_))
        return UnpackRegion(src, input_.in, source, layout_, PlanesOf(dst, input_.out, target));
    if (direct_ && ServesAsPlanes(input_.in, layout_))
        return PackRegion(PlanesOf(src, input_.in, source), layout_, dst, input_.out, target);
    if (direct_ && ConvertsRgbToPacked(input_.in, input_.out))
        return RgbToPackedRegion(src, input_.in, source, dst, input_.out, target);
    // Otherwise through the work planes a few rows at a time, which are still in the cache
    // when they are packed; a lone odd last row goes with the rows above (its chroma row).
    constexpr uint32_t kBand = 8;  // even: 4:2:0 rows pair within a band
    for (uint32_t r = 0; r < source.height; r += kBand) {
        const uint32_t rows = source.height - r <= kBand + 1 ? source.height - r : kBand;
        const WorkPlanes band = in.Rows(r, rows, layout_.vShift);
        UnpackRegion(src, input_.in, Region{source.left, source.top + r, source.width, rows}, layout_, band);
        PackRegion(band, layout_, dst, input_.out, Region{target.left, target.top + r, target.width, rows});
    }
}

void FrameConverter::Convert(const uint8_t* in, int64_t inStride, uint8_t* out, int64_t outStride)
{
    const GeometryState& g = geometry_;
    const Picture src = MakePicture(const_cast<uint8_t*>(in), input_.in, inStride, input_.srcHeight);
    const Picture dst = MakePicture(out, input_.out, outStride, input_.outHeight);
    const uint32_t outW = input_.outWidth, outH = input_.outHeight;
    if (!g.HasPicture()) {
        FillBorders(dst, input_.out, outW, outH, outW, outH, 0, 0);
        return;
    }
    const uint32_t fields = g.interlaced ? 2 : 1;
    for (uint32_t f = 0; f < fields; ++f)
        ConvertField(src.Field(f, fields), dst.Field(f, fields), uint32_t(g.borderTop) / fields);

    if (g.copyOnly && !(g.vbiActive && cfg_.vbiMode == kVbiAdd)) return;
    const uint32_t bottom = outH - std::min<uint32_t>(outH, g.borderTop + g.regionHeight * fields);
    FillBorders(dst, input_.out, outW, outH, g.borderLeft, g.borderTop, outW - g.borderLeft - g.regionWidth, bottom);

    if (g.vbiActive && cfg_.vbiMode == kVbiCopy) {
        const Region lines{0, 0, std::min<uint32_t>({720, input_.srcWidth, outW}), kVbiLines};
        UnpackRegion(src, input_.in, lines, layout_, vbiPlanes_.Planes());
        PackRegion(vbiPlanes_.Planes(), layout_, dst, input_.out, lines);
    }
}
