#include "test_pattern.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr Rgb kBars[] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                         {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
constexpr Rgb kBlack = {0, 0, 0};
constexpr Rgb kWhite = {255, 255, 255};

// 3 x 5 digit glyphs, one row per 3 bits (most significant bit = left column).
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr int kCounterDigits = 8;

// BT.601 studio range.
uint8_t LumaOf(Rgb c) { return uint8_t(16 + ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8)); }
uint8_t CbOf(Rgb c) { return uint8_t(128 + ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8)); }
uint8_t CrOf(Rgb c) { return uint8_t(128 + ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8)); }

}  // namespace

TestPattern::TestPattern(PixelFormat format, LONG width, LONG height)
    : format_(format), width_(width), height_(height), stride_(DibStride(format, width)),
      square_(std::max<LONG>(2, (height / 8) & ~1)), squareTop_(height - height / 6 - square_ / 2),
      digitScale_(std::max<LONG>(1, height / 120)), background_(FrameBytes(format, width, height))
{
    uint8_t* frame = background_.data();
    LONG barsHeight = height * 2 / 3;
    for (int i = 0; i < 8; ++i) {
        LONG x0 = width * i / 8, x1 = width * (i + 1) / 8;
        FillRect(frame, x0, 0, x1 - x0, barsHeight, kBars[i]);
    }
    constexpr int kSteps = 16;
    for (int i = 0; i < kSteps; ++i) {
        LONG x0 = width * i / kSteps, x1 = width * (i + 1) / kSteps;
        uint8_t v = uint8_t(i * 255 / (kSteps - 1));
        FillRect(frame, x0, barsHeight, x1 - x0, height - barsHeight, {v, v, v});
    }
}

LONG TestPattern::SquareX(uint64_t index, int speed) const
{
    LONG travel = std::max<LONG>(2, width_ - square_);
    LONG step = std::max<LONG>(2, width_ / 240 * 2);
    return LONG((index * uint64_t(std::max(speed, 0)) * uint64_t(step)) % uint64_t(travel)) & ~1;
}

void TestPattern::Render(uint64_t index, int speed, uint8_t* dst) const
{
    memcpy(dst, background_.data(), background_.size());
    FillRect(dst, SquareX(index, speed), squareTop_, square_, square_, kWhite);
    DrawNumber(dst, index);
}

void TestPattern::DrawNumber(uint8_t* frame, uint64_t number) const
{
    LONG cell = 4 * digitScale_;  // 3 columns and a gap
    LONG margin = 2 * digitScale_;
    FillRect(frame, 0, 0, kCounterDigits * cell + 2 * margin, 5 * digitScale_ + 2 * margin, kBlack);
    for (int d = kCounterDigits - 1; d >= 0; --d, number /= 10) {
        const uint8_t* glyph = kDigits[number % 10];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph[row] & (4 >> col))
                    FillRect(frame, margin + d * cell + col * digitScale_, margin + row * digitScale_, digitScale_,
                             digitScale_, kWhite);
    }
}

// Packed 4:2:2 shares chroma between pixel pairs, so x and w are taken to even values there.
void TestPattern::FillRect(uint8_t* frame, LONG x, LONG y, LONG w, LONG h, Rgb c) const
{
    x = std::clamp<LONG>(x, 0, width_);
    y = std::clamp<LONG>(y, 0, height_);
    w = std::min(w, width_ - x);
    h = std::min(h, height_ - y);
    if (w <= 0 || h <= 0) return;
    for (LONG row = y; row < y + h; ++row) {
        bool bottomUp = TraitsOf(format_).bottomUp;
        uint8_t* line = frame + size_t(bottomUp ? height_ - 1 - row : row) * stride_;
        switch (format_) {
        case PixelFormat::YUY2:
        case PixelFormat::UYVY: {
            uint8_t yy = LumaOf(c), u = CbOf(c), v = CrOf(c);
            uint8_t quad[4] = {yy, u, yy, v};
            if (format_ == PixelFormat::UYVY) quad[0] = u, quad[1] = yy, quad[2] = v, quad[3] = yy;
            for (LONG px = x & ~1; px < x + w && px + 1 < width_; px += 2) memcpy(line + px * 2, quad, 4);
            break;
        }
        case PixelFormat::RGB24:
            for (LONG px = x; px < x + w; ++px) {
                line[px * 3] = c.b;
                line[px * 3 + 1] = c.g;
                line[px * 3 + 2] = c.r;
            }
            break;
        case PixelFormat::RGB32: {
            const uint8_t pixel[4] = {c.b, c.g, c.r, 0xFF};
            for (LONG px = x; px < x + w; ++px) memcpy(line + px * 4, pixel, 4);
            break;
        }
        default:
            return;  // not offered by the pattern camera
        }
    }
}
