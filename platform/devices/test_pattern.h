// The test-pattern camera's picture: colour bars over a grey ramp, a square that moves along
// the bottom and the frame number in the top-left corner. The still part is rendered once per
// format and size; a frame copies it and redraws only the square and the number, so the
// camera costs little more than one memcpy per frame.
#pragma once

#include <cstdint>
#include <vector>

#include "video_format.h"

// The steps the square advances a frame unless the camera's "Pattern Speed" control says otherwise.
constexpr int kDefaultPatternSpeed = 4;

struct Rgb {
    uint8_t r, g, b;
};

class TestPattern {
public:
    // format is YUY2, UYVY, RGB24 or RGB32.
    TestPattern(PixelFormat format, LONG width, LONG height);

    size_t FrameSize() const { return background_.size(); }
    // Writes frame number `index` (FrameSize bytes); the square advances `speed` steps a frame.
    void Render(uint64_t index, int speed, uint8_t* dst) const;

    // Geometry of the moving square in frame `index`, for tests.
    LONG SquareX(uint64_t index, int speed) const;
    LONG SquareSize() const { return square_; }
    LONG SquareTop() const { return squareTop_; }
    LONG CounterHeight() const { return 9 * digitScale_; }  // glyph rows and margins

private:
    void FillRect(uint8_t* frame, LONG x, LONG y, LONG w, LONG h, Rgb colour) const;
    void DrawNumber(uint8_t* frame, uint64_t number) const;

    PixelFormat format_;
    LONG width_, height_;
    DWORD stride_;
    LONG square_, squareTop_, digitScale_;
    std::vector<uint8_t> background_;
};
