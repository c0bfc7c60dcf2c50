// The virtual devices' picture and tone.
#include <gtest/gtest.h>

#include <cmath>

#include "devices/test_pattern.h"
#include "devices/tone.h"

namespace {

// Bytes that differ between two frames, as the rows they lie on.
std::vector<LONG> ChangedRows(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, DWORD stride)
{
    std::vector<LONG> rows;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && (rows.empty() || rows.back() != LONG(i / stride))) rows.push_back(LONG(i / stride));
    return rows;
}

TEST(TestPattern, OnlySquareAndCounterChangeBetweenFrames)
{
    for (PixelFormat format : {PixelFormat::YUY2, PixelFormat::RGB24, PixelFormat::RGB32}) {
        SCOPED_TRACE(int(format));
        TestPattern pattern(format, 640, 480);
        ASSERT_EQ(pattern.FrameSize(), FrameBytes(format, 640, 480));
        std::vector<uint8_t> f1(pattern.FrameSize()), f2(pattern.FrameSize()), again(pattern.FrameSize());
        pattern.Render(1, 4, f1.data());
        pattern.Render(2, 4, f2.data());
        pattern.Render(1, 4, again.data());
        EXPECT_EQ(f1, again);  // a frame depends on its number only
        EXPECT_NE(pattern.SquareX(1, 4), pattern.SquareX(2, 4));

        DWORD stride = DibStride(format, 640);
        auto rows = ChangedRows(f1, f2, stride);
        ASSERT_FALSE(rows.empty());
        // Changes stay within the counter (top rows) and the square's band; RGB rows are stored bottom-up.
        size_t changedBytes = 0;
        for (size_t i = 0; i < f1.size(); ++i) changedBytes += f1[i] != f2[i];
        EXPECT_LT(changedBytes, f1.size() / 20);
        for (LONG row : rows) {
            LONG y = TraitsOf(format).bottomUp ? 480 - 1 - row : row;
            bool inCounter = y < pattern.CounterHeight();
            bool inSquare = y >= pattern.SquareTop() && y < pattern.SquareTop() + pattern.SquareSize();
            EXPECT_TRUE(inCounter || inSquare) << "row " << y;
        }
    }
}

TEST(TestPattern, RgbFramesAreBottomUpAndStartWithTheWhiteBar)
{
    TestPattern pattern(PixelFormat::RGB24, 320, 240);
    std::vector<uint8_t> frame(pattern.FrameSize());
    pattern.Render(0, 0, frame.data());
    // The picture's row 100, column 10 lies in the white bar (below the counter): memory row 139.
    const uint8_t* pixel = &frame[size_t(240 - 1 - 100) * DibStride(PixelFormat::RGB24, 320) + 10 * 3];
    EXPECT_EQ(pixel[0], 235);
    EXPECT_EQ(pixel[1], 235);
    EXPECT_EQ(pixel[2], 235);
    // Column 300 lies in the blue bar: B high, R and G low.
    const uint8_t* blue = &frame[size_t(240 - 1 - 100) * DibStride(PixelFormat::RGB24, 320) + 300 * 3];
    EXPECT_EQ(blue[0], 16);
    EXPECT_EQ(blue[2], 16);
}

int ZeroCrossings(const std::vector<int16_t>& samples, WORD channels, WORD channel)
{
    int crossings = 0;
    for (size_t i = channels + channel; i < samples.size(); i += channels)
        crossings += (samples[i - channels] < 0) != (samples[i] < 0);
    return crossings;
}

TEST(ToneGenerator, EachChannelHasItsOwnPitchAndFollowsTheLevel)
{
    ToneGenerator tone(48000, 2);
    std::vector<int16_t> second(48000 * 2);
    tone.Render(second.data(), 48000, 1.0);
    EXPECT_NEAR(ZeroCrossings(second, 2, 0), 880, 2);
    EXPECT_NEAR(ZeroCrossings(second, 2, 1), 1320, 2);
    int16_t peak = *std::max_element(second.begin(), second.end());
    EXPECT_NEAR(peak, 16384, 2);

    // Rendering in pieces continues the signal; a half level halves it.
    ToneGenerator a(44100, 2), b(44100, 2);
    std::vector<int16_t> whole(300 * 2), pieces(300 * 2);
    a.Render(whole.data(), 300, 0.5);
    b.Render(pieces.data(), 100, 0.5);
    b.Render(pieces.data() + 200, 200, 0.5);
    EXPECT_EQ(whole, pieces);
    EXPECT_LE(*std::max_element(whole.begin(), whole.end()), 8193);

    ToneGenerator mono(8000, 1);
    std::vector<int16_t> silent(8000);
    mono.Render(silent.data(), 8000, 0.0);
    EXPECT_EQ(*std::max_element(silent.begin(), silent.end()), 0);
}

}  // namespace
