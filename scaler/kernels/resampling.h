// Plane resamplers: one object maps a tightly packed 8-bit source plane of srcW x srcH samples
// onto a destination plane of dstW x dstH samples, on a pool of worker threads it owns (or on
// the threads of a caller that runs several planes at once, such as the frame converter).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "filter_rows.h"
#include "tap_table.h"
#include "worker_pool.h"

class CResamplingBase {
public:
    CResamplingBase() = default;
    CResamplingBase(const CResamplingBase&) = delete;
    CResamplingBase& operator=(const CResamplingBase&) = delete;

    // Stores the panorama coefficients (0.0 = linear mapping on that axis), then Initialize.
    virtual bool InitializePanorama(uint32_t srcH, uint32_t srcW, uint32_t dstH, uint32_t dstW, uint32_t affinityMask,
                                    double horizontalCoefficient, double verticalCoefficient);
    // Builds the index tables and the kernel's weights and starts one worker per set bit of the
    // mask. False for a size beyond 65535; an empty plane is accepted and Process does nothing.
    virtual bool Initialize(uint32_t srcH, uint32_t srcW, uint32_t dstH, uint32_t dstW, uint32_t affinityMask);
    // Runs one frame; the caller blocks until every worker is done.
    virtual void Process(const uint8_t* srcPlane, uint8_t* dstPlane);
    // The same on planes whose rows lie `stride` bytes apart (negative: upwards), such as the
    // planes of a picture in a sample.
    void Process(const uint8_t* srcPlane, int64_t srcStride, uint8_t* dstPlane, int64_t dstStride);
    virtual ~CResamplingBase();

    uint32_t WorkerCount() const { return pool_.WorkerCount(); }

    // For a caller that spreads the rows of several planes over threads of its own (one
    // dispatch per frame for all of them): call before Initialize, which then starts no
    // workers; Process runs on the calling thread. Bind sets the planes of a frame, after which
    // RunRows may run on any threads at once for ranges that do not overlap.
    void UseCallerThreads() { ownWorkers_ = false; }
    void Bind(const uint8_t* srcPlane, int64_t srcStride, uint8_t* dstPlane, int64_t dstStride);
    // Destination rows [first, last) through every pass, on the calling thread.
    void RunRows(uint32_t first, uint32_t last);

protected:
    virtual void ProcessSingle() = 0;
    virtual void ProcessThreaded() = 0;
    virtual void RunJob(const ResampleJob& job) = 0;
    virtual void BuildWeights() {}

    // Sets batch `batch` of the pool to [0, total) split into one range per worker, in about
    // equal shares with the inner boundaries b where b + phase is a multiple of `align` (ranges
    // may be empty on a small plane), the last range ending at total.
    void SplitBatch(uint32_t batch, uint32_t total, uint32_t align, uint32_t phase, uint8_t pass);

    uint32_t srcH_ = 0, srcW_ = 0, dstH_ = 0, dstW_ = 0;
    std::vector<const uint8_t*> srcRows_;
    std::vector<uint8_t*> dstRows_;
    std::vector<uint32_t> yIndex_, xIndex_;
    std::vector<double> yPhase_, xPhase_;
    double horizontalCoefficient_ = 0.0, verticalCoefficient_ = 0.0;
    bool ownWorkers_ = true;
    bool empty_ = true;
    CWorkerPool pool_;
};

// Source position of destination sample i on an axis of n destination and s source samples:
// corner-aligned, i * ((s - 1) / (n - 1)); a single destination sample takes the source centre.
double LinearSourcePosition(uint32_t i, uint32_t s, uint32_t n);

class CNearestNeighbor final : public CResamplingBase {
public:
    ~CNearestNeighbor() override;

protected:
    void ProcessSingle() override;
    void ProcessThreaded() override;
    void RunJob(const ResampleJob& job) override;
};

// The two-pass kernels: a horizontal pass from the source rows into an intermediate image of
// srcH x dstW, then a vertical pass from it into the destination, each through a TapTable.
class CSeparableResampling : public CResamplingBase {
public:
    ~CSeparableResampling() override;

protected:
    void ProcessSingle() override;
    void ProcessThreaded() override;
    void RunJob(const ResampleJob& job) override;
    void BuildWeights() override;
    // Panoramic mapping of one axis (n destination samples from s source samples, coefficient k).
    virtual void BuildPanoramaAxis(uint32_t n, uint32_t s, double k, TapTable& table);

    virtual uint32_t TapCount(uint32_t s, uint32_t n) const = 0;
    // Fills entry i of a table: x0 is the source index, f the phase; a mirrored entry is the
    // right-hand half of a panoramic mapping and takes the complementary phase.
    virtual void FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const = 0;
    virtual int32_t Rounding() const { return kRoundHalf; }

    TapTable horizontal_, vertical_;
    WindowTable windows_;  // the horizontal table for FilterRowsWindowed, when it fits
    bool windowed_ = false;
    // Intermediate rows a worker keeps while it walks its destination rows: every row the
    // current destination row reads, and a block of rows filtered ahead.
    uint32_t ringRows_ = 0;

public:
    // Caps the vector paths (at what the processor runs); the tests compare every level with
    // the plain row functions.
    void UseSimd(SimdLevel level) { simd_ = std::min(level, BestSimdLevel()); }

private:
    SimdLevel simd_ = BestSimdLevel();
};

class CBilinearInt final : public CSeparableResampling {
protected:
    uint32_t TapCount(uint32_t s, uint32_t n) const override { return 2; }
    void FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const override;
    int32_t Rounding() const override { return kTruncate; }
};

class CBicubicInt final : public CSeparableResampling {
public:
    // Mitchell-Netravali cubic with B = C = 1/3.
    static double Kernel(double x);

protected:
    uint32_t TapCount(uint32_t s, uint32_t n) const override { return 4; }
    void FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const override;
};

class CLanczosInt final : public CSeparableResampling {
public:
    // The windowed sinc of a T-tap filter with lobes L.
    static double Kernel(double x, uint32_t taps, double lobes);

protected:
    uint32_t TapCount(uint32_t s, uint32_t n) const override;
    void FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const override;

private:
    double lobes_ = 3.0;
};

// 0 "Sharp" bilinear, 1 "Precise" bicubic, 2 "Lanczos", -1 nearest neighbour; else nothing.
std::unique_ptr<CResamplingBase> CreateResampler(int method);
