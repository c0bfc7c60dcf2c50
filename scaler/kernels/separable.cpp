#include <algorithm>
#include <cmath>
#include <numbers>

#include "filter_rows.h"
#include "resampling.h"

namespace {
constexpr uint32_t kRowBlock = 16;  // rows of the widest horizontal path
}

CSeparableResampling::~CSeparableResampling() { pool_.Stop(); }

void CSeparableResampling::BuildWeights()
{
    auto build = [this](uint32_t s, uint32_t n, double k, const std::vector<uint32_t>& index,
                        const std::vector<double>& phase, TapTable& table) {
        table.Resize(n, TapCount(s, n));
        if (k != 0.0 && n >= 2)
            BuildPanoramaAxis(n, s, k, table);
        else
            for (uint32_t i = 0; i < n; ++i) FillEntry(table, i, s, index[i], phase[i], false);
        table.CheckPairs();
    };
    build(srcW_, dstW_, horizontalCoefficient_, xIndex_, xPhase_, horizontal_);
    build(srcH_, dstH_, verticalCoefficient_, yIndex_, yPhase_, vertical_);
    windowed_ = HasAvx512Vnni() && windows_.Build(horizontal_, dstW_);

    // A destination row reads at most `taps` consecutive rows, and a block of up to kRowBlock
    // rows is filtered ahead of the last of them.
    ringRows_ = vertical_.taps + kRowBlock;
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

void CSeparableResampling::ProcessSingle() { RunJob({0, static_cast<uint16_t>(dstH_), kBothPasses, 0}); }

void CSeparableResampling::ProcessThreaded()
{
    // Each worker takes a band of destination rows through both passes, filtering the
    // intermediate rows its band needs into its own ring: they are used while still in the
    // cache, and no worker waits for another (the few rows two bands share are filtered by
    // both). Bands of eight rows keep the boundaries off the middle of a vector block.
    SplitBatch(0, dstH_, 8, 0, kBothPasses);
    pool_.RunJobs(1);
}

void CSeparableResampling::RunJob(const ResampleJob& job)
{
    const int32_t rounding = Rounding();
    const uint32_t taps = vertical_.taps;
    // Per worker thread, grown once.
    thread_local std::vector<uint8_t> ring;
    thread_local std::vector<int64_t> held;  // source row in each ring slot, -1 for none
    thread_local std::vector<const uint8_t*> rows;
    ring.resize(std::max(ring.size(), size_t(ringRows_) * dstW_));
    held.assign(ringRows_, -1);
    rows.resize(std::max<size_t>(rows.size(), taps));
    auto slot = [&](uint32_t y) { return ring.data() + size_t(y % ringRows_) * dstW_; };
    // Filters source rows from y on: a whole vector block when the rows are there.
    auto filterFrom = [&](uint32_t y) {
        auto block = [&](uint32_t height, auto filterRows) {
            if (y + height > srcH_) return false;
            uint8_t* into[kRowBlock];
            for (uint32_t r = 0; r < height; ++r) {
                into[r] = slot(y + r);
                held[(y + r) % ringRows_] = y + r;
            }
            filterRows(&srcRows_[y], into, srcW_, dstW_, horizontal_, rounding);
            return true;
        };
        if (simd_ >= SimdLevel::kAvx512Vnni && windowed_) {
            uint8_t* into[4];
            const uint32_t available = std::min(4u, srcH_ - y);
            for (uint32_t r = 0; r < available; ++r) into[r] = slot(y + r);
            const uint32_t done = FilterRowsWindowed(&srcRows_[y], available, srcW_, into, windows_, rounding);
            for (uint32_t r = 0; r < done; ++r) held[(y + r) % ringRows_] = y + r;
            return;
        }
        if (simd_ >= SimdLevel::kAvx512 && block(16, FilterRowsHorizontalAvx512)) return;
        if (simd_ >= SimdLevel::kAvx2 && block(8, FilterRowsHorizontalAvx2)) return;
        FilterRowHorizontal(srcRows_[y], slot(y), dstW_, horizontal_, rounding);
        held[y % ringRows_] = y;
    };
    for (uint32_t i = job.first; i < job.last; ++i) {
        const int32_t* position = vertical_.PositionsOf(i);
        for (uint32_t t = 0; t < taps; ++t) {
            const uint32_t y = uint32_t(position[t]);
            if (held[y % ringRows_] != y) filterFrom(y);
            rows[t] = slot(y);
        }
        FilterRowVertical(rows.data(), vertical_.WeightsOf(i), taps, dstRows_[i], 0, dstW_, rounding, simd_);
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
