// A plain, per-sample reading of the kernel rules, written independently of the library's
// table-driven code, so that the tests compare two implementations of the same arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace reference {

struct Mapping {
    std::vector<int64_t> index;
    std::vector<double> phase;
    std::vector<bool> mirrored;
};

inline Mapping Linear(uint32_t s, uint32_t n)
{
    Mapping m;
    for (uint32_t i = 0; i < n; ++i) {
        double x = n == 1 ? (s - 1) / 2.0 : i * ((double(s) - 1) / (double(n) - 1));
        m.index.push_back(int64_t(x));
        m.phase.push_back(x - int64_t(x));
        m.mirrored.push_back(false);
    }
    return m;
}

inline Mapping Panoramic(uint32_t s, uint32_t n, double k)
{
    const double pi = std::numbers::pi;
    Mapping m;
    m.index.resize(n);
    m.phase.resize(n);
    m.mirrored.resize(n);
    double hn = n / 2.0, d = s / 2.0, e = 2 * d / pi, g = (pi / 2) / (hn - 0.5);
    double h, q, a;
    if (k > 1) {
        double mm = k * d;
        h = (mm + std::sqrt(mm * mm - e * e * (2 * pi - 4))) / 2;
        q = e / h;
        a = pi / 2;
    } else {
        h = e;
        q = std::sqrt(e * (k * d - e) / (pi / 2 - 1)) / h;
        a = 0;
    }
    for (uint32_t i = 0; i < hn; ++i) {
        double r = h * (std::sin(a) + q * q * (a - std::sin(a))) / k;
        if (k > 1) r = d - r;
        int64_t t = int64_t(r);
        m.index[i] = t;
        m.phase[i] = r - t;
        m.mirrored[i] = false;
        m.index[n - 1 - i] = s - t - 1;
        m.phase[n - 1 - i] = r - t;
        m.mirrored[n - 1 - i] = true;
        a += k > 1 ? -g : g;
    }
    return m;
}

inline int W(double w) { return int(w * 65536 + 0.5); }

inline uint8_t Bilinear(const uint8_t* s, uint32_t size, size_t stride, int64_t x0, double f, bool mirrored)
{
    if (x0 + 1 == int64_t(size)) return s[x0 * stride];
    unsigned wl = W(mirrored ? f : 1 - f), wr = W(mirrored ? 1 - f : f);
    return uint8_t((s[x0 * stride] * wl + s[(x0 + 1) * stride] * wr) >> 16);
}

inline double Cubic(double x)
{
    double a = std::fabs(x);
    return a < 1 ? 7.0 / 6 * a * a * a - 2 * a * a + 8.0 / 9 : -7.0 / 18 * a * a * a + 2 * a * a - 10.0 / 3 * a + 16.0 / 9;
}

inline uint8_t Bicubic(const uint8_t* s, uint32_t size, size_t stride, int64_t x0, double f, bool mirrored)
{
    double u = mirrored ? (f == 0 ? 1 : 2 - f) : f + 1;
    int w[4];
    for (int j = 0; j < 4; ++j) w[j] = W(Cubic(j - u));
    // Edge folding, rule by rule.
    if (x0 == 0) w[1] += w[0], w[0] = 0;
    if (x0 == int64_t(size) - 1) w[1] += w[2] + w[3], w[2] = w[3] = 0;
    if (x0 == int64_t(size) - 2) w[2] += w[3], w[3] = 0;
    int sum = 0x8000;
    for (int j = 0; j < 4; ++j)
        if (w[j]) sum += w[j] * s[(x0 - 1 + j) * stride];
    int v = sum >> 16;
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline uint32_t LanczosTaps(uint32_t s, uint32_t n) { return s / 2 >= n ? (s / n) * 6 : 6; }

inline uint8_t Lanczos(const uint8_t* s, uint32_t size, size_t stride, int64_t x0, double f, bool mirrored,
                       uint32_t taps)
{
    const double L = 3.0;
    int half = int(taps / 2);
    double w = mirrored ? 2 - f : f + (half - 1);
    std::vector<double> raw(taps);
    double total = 0;
    for (uint32_t j = 0; j < taps; ++j) {
        double x = j - w;
        double v;
        if (x == 0)
            v = 1;
        else if (std::fabs(x) >= half)
            v = 0;
        else {
            double t = std::numbers::pi * x * (2 * L / taps);
            v = std::sin(t) * std::sin(t / L) * L / (t * t);
        }
        raw[j] = v;
        total += v;
    }
    int sum = 0x8000;
    for (uint32_t j = 0; j < taps; j += 2) {  // two taps at a time
        int64_t p0 = std::min<int64_t>(std::max<int64_t>(x0 + j - half + 1, 0), size - 1);
        int64_t p1 = std::min<int64_t>(std::max<int64_t>(x0 + j + 1 - half + 1, 0), size - 1);
        sum += W(raw[j] / total) * s[p0 * stride] + W(raw[j + 1] / total) * s[p1 * stride];
    }
    if (sum >= 0x1000000) return 255;
    int v = sum >> 16;
    return uint8_t(v < 0 ? 0 : v);
}

// method 0 bilinear, 1 bicubic, 2 Lanczos, -1 nearest; k = 0 for the linear mapping.
inline std::vector<uint8_t> Resample(int method, const std::vector<uint8_t>& src, uint32_t sw, uint32_t sh,
                                     uint32_t dw, uint32_t dh, double kh = 0, double kv = 0)
{
    Mapping mx = kh != 0 && method >= 0 ? Panoramic(sw, dw, kh) : Linear(sw, dw);
    Mapping my = kv != 0 && method >= 0 ? Panoramic(sh, dh, kv) : Linear(sh, dh);
    std::vector<uint8_t> dst(size_t(dw) * dh);
    if (method < 0) {
        for (uint32_t i = 0; i < dh; ++i)
            for (uint32_t j = 0; j < dw; ++j) dst[i * dw + j] = src[my.index[i] * sw + mx.index[j]];
        return dst;
    }
    auto apply = [&](const uint8_t* s, uint32_t size, size_t stride, const Mapping& m, uint32_t i, uint32_t taps) {
        switch (method) {
        case 0: return Bilinear(s, size, stride, m.index[i], m.phase[i], m.mirrored[i]);
        case 1: return Bicubic(s, size, stride, m.index[i], m.phase[i], m.mirrored[i]);
        default: return Lanczos(s, size, stride, m.index[i], m.phase[i], m.mirrored[i], taps);
        }
    };
    std::vector<uint8_t> mid(size_t(sh) * dw);
    for (uint32_t y = 0; y < sh; ++y)
        for (uint32_t j = 0; j < dw; ++j) mid[y * dw + j] = apply(&src[y * sw], sw, 1, mx, j, LanczosTaps(sw, dw));
    for (uint32_t i = 0; i < dh; ++i)
        for (uint32_t j = 0; j < dw; ++j) dst[i * dw + j] = apply(&mid[j], sh, dw, my, i, LanczosTaps(sh, dh));
    return dst;
}

}  // namespace reference
