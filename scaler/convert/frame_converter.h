// Converts whole frames for one geometry: cut the source region, resample each working plane,
// write the picture region of the output and paint the borders black.
#pragma once

#include <memory>

#include "convert/frame_io.h"
#include "convert/geometry.h"
#include "kernels/resampling.h"

class FrameConverter {
public:
    // Recomputes the geometry and rebuilds buffers and resamplers. method: the kernel of planes
    // 0 to 2 (a fourth plane always uses nearest neighbour); mask: the workers' processors.
    void Configure(const SCALVO_Config& cfg, const GeometryInput& input, uint32_t mask);
    const GeometryState& Geometry() const { return geometry_; }
    const GeometryInput& Input() const { return input_; }
    bool Configured() const { return configured_; }

    // inStride/outStride: line strides of the first planes (doubled per field internally).
    void Convert(const uint8_t* in, int64_t inStride, uint8_t* out, int64_t outStride);

    // Off: pictures always go through the work planes (the tests compare both ways).
    void ConvertDirectly(bool on) { direct_ = on; }

private:
    void ConvertField(const Picture& src, const Picture& dst, uint32_t topBorder);
    // A worker's share of the field in work_: a band of source rows unpacked into the planes,
    // a band of destination rows resampled in every plane and packed, or a band converted
    // without resampling.
    void RunBand(const ResampleJob& job);
    // Format conversion without resampling (source and target regions of the same size);
    // `planes`: the region's rows of the work planes, where it needs them.
    void ConvertFormat(const Picture& src, Region source, const Picture& dst, Region target,
                       const WorkPlanes& planes);
    // Batch `batch` of the pool: [0, total) rows in one band of `kind` per worker. Boundaries
    // fall on multiples of eight chroma rows (even for 4:2:0, so chroma rows are luma rows >> 1
    // on both sides and pair as in the whole picture; off the middle of a vector block), and a
    // lone odd last row of 4:2:0 planes stays in the band above, with the chroma row it is
    // packed with.
    void SetBands(uint32_t batch, uint32_t total, uint8_t kind);

    bool configured_ = false;
    bool direct_ = true;
    SCALVO_Config cfg_{};
    GeometryInput input_;
    GeometryState geometry_;
    WorkingLayout layout_;
    PlaneBuffer inPlanes_, outPlanes_, vbiPlanes_;
    std::unique_ptr<CResamplingBase> resamplers_[4];
    // The field being converted, as the workers see it (set before they are started).
    struct FieldWork {
        Picture src, dst;
        Region source, target;
        WorkPlanes from, to;
        bool unpacks = false, packs = false;
    } work_;
    // One worker per set bit of the mask for all planes and both sides of the conversion, so a
    // field costs one dispatch. Last member: its workers stop before anything they use goes.
    CWorkerPool pool_;
};
