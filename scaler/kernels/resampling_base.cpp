#include "resampling.h"

#include <algorithm>
#include <limits>

double LinearSourcePosition(uint32_t i, uint32_t s, uint32_t n)
{
    // A single destination sample would divide by zero; it takes the middle of the source.
    if (n < 2) return s > 1 ? (s - 1) / 2.0 : 0.0;
    double step = (double(s) - 1) / (double(n) - 1);
    return i * step;
}

static void BuildLinearIndex(uint32_t s, uint32_t n, std::vector<uint32_t>& index, std::vector<double>& phase)
{
    index.resize(n);
    phase.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        double x = LinearSourcePosition(i, s, n);
        uint32_t x0 = std::min(static_cast<uint32_t>(x), s - 1);
        index[i] = x0;
        phase[i] = x - x0;
    }
}

bool CResamplingBase::InitializePanorama(uint32_t srcH, uint32_t srcW, uint32_t dstH, uint32_t dstW,
                                         uint32_t affinityMask, double horizontalCoefficient,
                                         double verticalCoefficient)
{
    horizontalCoefficient_ = horizontalCoefficient;
    verticalCoefficient_ = verticalCoefficient;
    return Initialize(srcH, srcW, dstH, dstW, affinityMask);
}

bool CResamplingBase::Initialize(uint32_t srcH, uint32_t srcW, uint32_t dstH, uint32_t dstW, uint32_t affinityMask)
{
    pool_.Stop();
    constexpr uint32_t kMax = std::numeric_limits<uint16_t>::max();  // job ranges are 16-bit
    if (srcH > kMax || srcW > kMax || dstH > kMax || dstW > kMax) return false;
    srcH_ = srcH;
    srcW_ = srcW;
    dstH_ = dstH;
    dstW_ = dstW;
    empty_ = srcH == 0 || srcW == 0 || dstH == 0 || dstW == 0;
    srcRows_.assign(srcH, nullptr);
    dstRows_.assign(dstH, nullptr);
    if (!empty_) {
        BuildLinearIndex(srcW, dstW, xIndex_, xPhase_);
        BuildLinearIndex(srcH, dstH, yIndex_, yPhase_);
    }
    if (ownWorkers_) pool_.Start(affinityMask, [this](const ResampleJob& job) { RunJob(job); });
    if (!empty_) BuildWeights();
    return true;
}

void CResamplingBase::Process(const uint8_t* srcPlane, uint8_t* dstPlane)
{
    Process(srcPlane, srcW_, dstPlane, dstW_);
}

void CResamplingBase::Process(const uint8_t* srcPlane, int64_t srcStride, uint8_t* dstPlane, int64_t dstStride)
{
    if (empty_) return;
    Bind(srcPlane, srcStride, dstPlane, dstStride);
    if (ownWorkers_)
        ProcessThreaded();
    else
        ProcessSingle();
}

void CResamplingBase::Bind(const uint8_t* srcPlane, int64_t srcStride, uint8_t* dstPlane, int64_t dstStride)
{
    if (empty_) return;
    for (uint32_t y = 0; y < srcH_; ++y) srcRows_[y] = srcPlane + int64_t(y) * srcStride;
    for (uint32_t y = 0; y < dstH_; ++y) dstRows_[y] = dstPlane + int64_t(y) * dstStride;
}

void CResamplingBase::RunRows(uint32_t first, uint32_t last)
{
    last = std::min(last, dstH_);
    if (empty_ || first >= last) return;
    // Both kernels' jobs take destination rows through every pass whatever the pass says.
    RunJob({static_cast<uint16_t>(first), static_cast<uint16_t>(last), kBothPasses, 0});
}

CResamplingBase::~CResamplingBase() { pool_.Stop(); }

void CResamplingBase::SplitBatch(uint32_t batch, uint32_t total, uint32_t align, uint32_t phase, uint8_t pass)
{
    const uint32_t n = pool_.WorkerCount();
    auto boundary = [&](uint32_t k) { return static_cast<uint16_t>(BandBoundary(k, n, total, align, phase)); };
    for (uint32_t k = 0; k < n; ++k) {
        ResampleJob& job = pool_.Job(batch, k);
        job.first = boundary(k);
        job.last = boundary(k + 1);
        job.pass = pass;
    }
}

// The workers call back into the object, so they must be gone before its tables are.
CNearestNeighbor::~CNearestNeighbor() { pool_.Stop(); }

void CNearestNeighbor::ProcessSingle() { RunJob({0, static_cast<uint16_t>(dstH_), kVerticalPass, 0}); }

void CNearestNeighbor::ProcessThreaded()
{
    SplitBatch(0, dstH_, 1, 0, kVerticalPass);
    pool_.RunJobs(1);
}

void CNearestNeighbor::RunJob(const ResampleJob& job)
{
    for (uint32_t i = job.first; i < job.last; ++i) {
        const uint8_t* src = srcRows_[yIndex_[i]];
        uint8_t* dst = dstRows_[i];
        for (uint32_t j = 0; j < dstW_; ++j) dst[j] = src[xIndex_[j]];
    }
}

std::unique_ptr<CResamplingBase> CreateResampler(int method)
{
    switch (method) {
    case -1: return std::make_unique<CNearestNeighbor>();
    case 0: return std::make_unique<CBilinearInt>();
    case 1: return std::make_unique<CBicubicInt>();
    case 2: return std::make_unique<CLanczosInt>();
    default: return nullptr;
    }
}
