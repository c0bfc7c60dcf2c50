#include <algorithm>
#include <cmath>
#include <numbers>

#include "filter_rows.h"
#include "resampling.h"

namespace {
constexpr uint32_t kRowBlock = 16;  // rows of the widest horizontal path
constexpr uint32_t kCacheLine = 64;
}

CSeparableResampling::~CSeparableResampling() { pool_.Stop(); }

void CSeparableResampling::BuildWeights()
{
    auto build = [this](uint32_t s, uint32_t n, double k, const std::vector<uint32_t>& index,
                        const std::vector<double>& phase, TapTable& table) {
        table.Resize(n, TapCount(s, n));
        if (k != 0.0 && n >= 2) return BuildPanoramaAxis(n, s, k, table);
        for (uint32_t i = 0; i < n; ++i) FillEntry(table, i, s, index[i], phase[i], false);
    };
    build(srcW_, dstW_, horizontalCoefficient_, xIndex_, xPhase_, horizontal_);
    build(srcH_, dstH_, verticalCoefficient_, yIndex_, yPhase_, vertical_);

    intermediate_.assign(size_t(srcH_) * dstW_, 0);
    verticalRows_.resize(vertical_.position.size());
    for (size_t i = 0; i < verticalRows_.size(); ++i)
        verticalRows_[i] = intermediate_.data() + size_t(vertical_.position[i]) * dstW_;
}

void CSeparableResampling::BuildPanoramaAxis(uint32_t n, uint32_t s, double k, TapTable& table)
{
    constexpr double pi = std::numbers::pi;
    const double hn = n / 2.0;
    const double d = s / 2.0;
    const double e = 2 * d / pi;
    const double g = (pi / 2) / (hn - 0.5);
    double h, q, angle, step;
    if (k > 1) {
        double m = k * d;
        h = (m + std::sqrt(m * m - e * e * (2 * pi - 4))) / 2;
        q = e / h;
        angle = pi / 2;
        step = -g;
    } else {
        h = e;
        q = std::sqrt(e * (k * d - e) / (pi / 2 - 1)) / h;
        angle = 0;
        step = g;
    }
    for (uint32_t i = 0; i < hn; ++i, angle += step) {
        double r = h * (std::sin(angle) + q * q * (angle - std::sin(angle))) / k;
        if (k > 1) r = d - r;
        // Coefficients far outside what the aspect-ratio step produces must not leave the plane.
        if (!std::isfinite(r)) r = 0;
        r = std::clamp(r, 0.0, double(s - 1));
        uint32_t t = static_cast<uint32_t>(r);
        double f = r - t;
        FillEntry(table, i, s, t, f, false);
        FillEntry(table, n - 1 - i, s, s - t - 1, f, true);
    }
}

void CSeparableResampling::ProcessSingle()
{
    RunJob({0, static_cast<uint16_t>(srcH_), kHorizontalPass, 0});
    RunJob({0, static_cast<uint16_t>(dstW_), kVerticalPass, 0});
}

void CSeparableResampling::ProcessThreaded()
{
    // Row ranges in blocks of eight, so each worker's rows take the vector paths (sixteen would
    // leave the halves of a 720-row plane 16 rows apart). Column ranges on the cache lines of
    // the destination as it lies in memory: a line written by two workers on every row would
    // travel between their caches all the frame long.
    SplitBatch(0, srcH_, 8, 0, kHorizontalPass);
    SplitBatch(1, dstW_, kCacheLine, reinterpret_cast<uintptr_t>(dstRows_[0]) % kCacheLine, kVerticalPass);
    pool_.RunJobs(2);
}

void CSeparableResampling::RunJob(const ResampleJob& job)
{
    const int32_t rounding = Rounding();
    if (job.pass == kHorizontalPass) {
        uint32_t y = job.first;
        auto blocks = [&](uint32_t height, auto filterRows) {
            for (; y + height <= job.last; y += height) {
                uint8_t* rows[kRowBlock];
                for (uint32_t r = 0; r < height; ++r) rows[r] = intermediate_.data() + size_t(y + r) * dstW_;
                filterRows(&srcRows_[y], rows, srcW_, dstW_, horizontal_, rounding);
            }
        };
        if (simd_ >= SimdLevel::kAvx512) blocks(16, FilterRowsHorizontalAvx512);
        if (simd_ >= SimdLevel::kAvx2) blocks(8, FilterRowsHorizontalAvx2);
        for (; y < job.last; ++y)
            FilterRowHorizontal(srcRows_[y], intermediate_.data() + size_t(y) * dstW_, dstW_, horizontal_, rounding);
        return;
    }
    // A worker reads its columns of every intermediate row, most of them written by the other
    // workers, in runs too short for the hardware prefetcher to follow: the rows a few ahead of
    // the ones in use are requested here.
    constexpr uint32_t kRowsAhead = 8;
    const uint32_t taps = vertical_.taps;
    uint32_t requested = 0;
    for (uint32_t i = 0; i < dstH_; ++i) {
        const uint32_t needed = vertical_.position[size_t(i) * taps + taps - 1] + 1;
        for (const uint32_t want = std::min(srcH_, needed + kRowsAhead); requested < want; ++requested) {
            const uint8_t* row = intermediate_.data() + size_t(requested) * dstW_;
            for (uint32_t c = job.first; c < job.last; c += kCacheLine) __builtin_prefetch(row + c);
        }
        FilterRowVertical(&verticalRows_[size_t(i) * taps], vertical_.WeightsOf(i), taps, dstRows_[i], job.first,
                          job.last, rounding, simd_);
    }
}

static int32_t ClampIndex(int64_t x, uint32_t s) { return static_cast<int32_t>(std::clamp<int64_t>(x, 0, s - 1)); }

void CBilinearInt::FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const
{
    int32_t* pos = table.PositionsOf(i);
    int32_t* w = table.WeightsOf(i);
    pos[0] = ClampIndex(x0, s);
    if (uint64_t(x0) + 1 >= s) {  // the last source sample is copied
        pos[1] = pos[0];
        w[0] = 65536;
        w[1] = 0;
        return;
    }
    pos[1] = pos[0] + 1;
    w[0] = FixedWeight(mirrored ? f : 1 - f);
    w[1] = FixedWeight(mirrored ? 1 - f : f);
}

double CBicubicInt::Kernel(double x)
{
    double a = std::fabs(x);
    if (a < 1) return (7.0 / 6) * a * a * a - 2 * a * a + 8.0 / 9;
    if (a < 2) return -(7.0 / 18) * a * a * a + 2 * a * a - (10.0 / 3) * a + 16.0 / 9;
    return 0.0;
}

// Taps outside the plane fold onto its edge samples, which is clamping the tap positions.
void CBicubicInt::FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const
{
    double u = mirrored ? (f == 0 ? 1.0 : 2 - f) : f + 1;
    int32_t* pos = table.PositionsOf(i);
    int32_t* w = table.WeightsOf(i);
    for (int j = 0; j < 4; ++j) {
        pos[j] = ClampIndex(int64_t(x0) - 1 + j, s);
        w[j] = FixedWeight(Kernel(j - u));
    }
}

double CLanczosInt::Kernel(double x, uint32_t taps, double lobes)
{
    if (x == 0) return 1.0;
    if (std::fabs(x) >= taps / 2) return 0.0;
    double t = std::numbers::pi * x * (2 * lobes / taps);
    return std::sin(t) * std::sin(t / lobes) * lobes / (t * t);
}

uint32_t CLanczosInt::TapCount(uint32_t s, uint32_t n) const
{
    uint32_t taps = static_cast<uint32_t>(2 * lobes_);
    if (s / 2 >= n) taps = (s / n) * taps;
    return taps;
}

void CLanczosInt::FillEntry(TapTable& table, uint32_t i, uint32_t s, uint32_t x0, double f, bool mirrored) const
{
    const uint32_t taps = table.taps;
    const int32_t half = static_cast<int32_t>(taps / 2);
    double w = mirrored ? 2 - f : f + (half - 1);
    std::vector<double> raw(taps);
    double sum = 0;
    for (uint32_t j = 0; j < taps; ++j) sum += raw[j] = Kernel(j - w, taps, lobes_);
    if (sum == 0) sum = 1;
    int32_t* pos = table.PositionsOf(i);
    int32_t* weight = table.WeightsOf(i);
    for (uint32_t j = 0; j < taps; ++j) {
        pos[j] = ClampIndex(int64_t(x0) + j - half + 1, s);
        weight[j] = FixedWeight(raw[j] / sum);
    }
}
