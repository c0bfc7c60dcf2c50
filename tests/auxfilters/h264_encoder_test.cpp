#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <set>

#include "h264/h264_encoder.h"
#include "h264_decode.h"
#include "test_support.h"

namespace {

constexpr int64_t kFrame30 = 333333;

VideoInputFormat I420Format(int width, int height)
{
    return {PixelLayout::I420, width, height, width, false};
}

double Mean(const std::vector<uint8_t>& plane, int width, int firstRow, int rows)
{
    const auto begin = plane.begin() + static_cast<std::ptrdiff_t>(firstRow) * width;
    return std::accumulate(begin, begin + static_cast<std::ptrdiff_t>(rows) * width, 0.0) / (rows * width);
}

}  // namespace

TEST(H264Encoder, LiveStreamFollowsTheRegistry)
{
    ScratchHome home;
    SetRegistryDword(kX264SettingsKey, "Bitrate", 800);
    SetRegistryDword(kX264SettingsKey, "VBVMaxRate", 960);
    SetRegistryDword(kX264SettingsKey, "VBVSize", 800);
    SetRegistryDword(kX264SettingsKey, "KeyIntMin", 30);
    SetRegistryDword(kX264SettingsKey, "KeyIntMax", 60);
    const int width = 640, height = 360, count = 300;
    std::string error;
    auto encoder = H264Encoder::Create(ReadX264Settings(), I420Format(width, height), kFrame30, &error);
    ASSERT_TRUE(encoder) << error;

    std::vector<EncodedFrame> out;
    std::set<int64_t> inputTimes;
    int firstOutput = -1;
    for (int i = 0; i < count; ++i) {
        const auto frame = MovingPictureI420(width, height, i);
        inputTimes.insert(i * kFrame30);
        ASSERT_TRUE(encoder->Encode(frame.data(), frame.size(), i * kFrame30, &out));
        if (firstOutput < 0 && !out.empty()) firstOutput = i;
    }
    encoder->Flush(&out);
    ASSERT_EQ(out.size(), size_t(count));
    // A live encoder holds back no more than its B-frames and one frame per extra thread.
    EXPECT_GE(firstOutput, 0);
    EXPECT_LE(firstOutput, ReadX264Settings().bFrames + kMaxFrameThreads);

    std::vector<std::vector<uint8_t>> samples;
    size_t bytes = 0;
    int lastKey = -1000, keys = 0;
    std::set<int64_t> presentedTimes;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto& f = out[i];
        samples.push_back(f.data);
        bytes += f.data.size();
        presentedTimes.insert(f.startTime);
        EXPECT_LE(f.decodingTime, f.startTime);
        EXPECT_GE(f.decodingTime, 0);
        // Rising in whole milliseconds, the unit of an FLV tag's time.
        if (i > 0) EXPECT_GT(f.decodingTime / 10000, out[i - 1].decodingTime / 10000);
        // Every sample is a run of 4-byte-length-prefixed NAL units that fills it exactly.
        size_t at = 0;
        while (at + 4 <= f.data.size())
            at += 4 + (size_t(f.data[at]) << 24 | size_t(f.data[at + 1]) << 16 | size_t(f.data[at + 2]) << 8 | f.data[at + 3]);
        EXPECT_EQ(at, f.data.size());
        if (f.keyFrame) {
            if (i > 0) EXPECT_LE(int(i) - lastKey, 60);
            lastKey = int(i);
            ++keys;
        }
    }
    EXPECT_TRUE(out.front().keyFrame);
    EXPECT_GE(keys, count / 60);
    // Every capture time comes back as a presentation time, unchanged.
    EXPECT_EQ(presentedTimes, inputTimes);

    const double kbps = bytes * 8.0 / (count / 30.0) / 1000.0;
    EXPECT_NEAR(kbps, 800, 800 * 0.25);

    const DecodedVideo decoded = DecodeH264(encoder->SequenceHeader(), samples);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, count);
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
}

// A 30 fps stream whose every second frame the frame-rate limiter dropped: `count` pictures
// stamped 67 ms apart, encoded and flushed.
template <class Picture>
std::vector<EncodedFrame> EncodeAtHalfRate(int width, int height, int count, Picture picture)
{
    auto encoder = H264Encoder::Create(ReadX264Settings(), I420Format(width, height), kFrame30, nullptr);
    std::vector<EncodedFrame> out;
    if (!encoder) return out;
    for (int i = 0; i < count; ++i) {
        const std::vector<uint8_t> frame = picture(i);
        if (!encoder->Encode(frame.data(), frame.size(), 2 * i * kFrame30, &out)) return {};
    }
    encoder->Flush(&out);
    return out;
}

// With the frame-rate limiter halving a 30 fps source, frames come 67 ms apart: the bit rate
// follows their time stamps, not the nominal rate of the media type.
TEST(H264Encoder, HalfFrameRateKeepsTheConfiguredBitRate)
{
    ScratchHome home;
    const int width = 480, height = 270, count = 150;
    const auto out = EncodeAtHalfRate(width, height, count, [&](int i) {
        // A busy picture that changes everywhere, so that the bits can be spent.
        std::vector<uint8_t> frame(width * height * 3 / 2, 128);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) frame[y * width + x] = (x + y + 2 * i * 8 * (x * y % 7)) & 0xFF;
        return frame;
    });
    ASSERT_FALSE(out.empty());
    size_t bytes = 0;
    for (const auto& f : out) bytes += f.data.size();
    const double kbps = bytes * 8.0 / (count * 2 * kFrame30 / 1e7) / 1000.0;
    EXPECT_NEAR(kbps, ReadX264Settings().bitrate, ReadX264Settings().bitrate * 0.15);
}

// The same at half rate for the key frames: as often in time as the interval gives at the
// nominal rate (90 frames at 30 fps, 3 s), not every 90 frames passed.
TEST(H264Encoder, HalfFrameRateKeepsTheKeyFrameIntervalInTime)
{
    ScratchHome home;
    const int width = 160, height = 96, count = 200;
    const auto out = EncodeAtHalfRate(width, height, count, [&](int i) { return MovingPictureI420(width, height, i); });
    ASSERT_FALSE(out.empty());
    std::vector<int64_t> keys;
    for (const auto& f : out)
        if (f.keyFrame) keys.push_back(f.startTime);
    keys.push_back(2 * count * kFrame30);
    for (size_t i = 1; i < keys.size(); ++i) EXPECT_LE(keys[i] - keys[i - 1], 90 * kFrame30) << keys[i - 1];
}

// Mean of |2 Y(row) - Y(row above) - Y(row below)|: the comb of an interlaced picture.
double Comb(const std::vector<uint8_t>& luma, int width, int height)
{
    double sum = 0;
    for (int y = 1; y + 1 < height; ++y)
        for (int x = 0; x < width; ++x)
            sum += std::abs(2 * luma[y * width + x] - luma[(y - 1) * width + x] - luma[(y + 1) * width + x]);
    return sum / (width * (height - 2));
}

// "Deinterlace: Yes": frames whose two fields show a moving box at two places come out as
// progressive pictures, one for each frame, without the comb between the fields.
TEST(H264Encoder, DeinterlacingGivesProgressivePicturesWithoutTheComb)
{
    ScratchHome home;
    SetRegistryDword(kX264SettingsKey, "Interlaced", 1);
    const int width = 320, height = 240, count = 10;
    std::string error;
    auto encoder = H264Encoder::Create(ReadX264Settings(), I420Format(width, height), kFrame30, &error);
    ASSERT_TRUE(encoder) << error;
    std::vector<uint8_t> firstSource;
    std::vector<EncodedFrame> out;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> frame(width * height * 3 / 2, 128);
        for (int y = 0; y < height; ++y) {
            const int left = 40 + 24 * i + (y % 2) * 12;  // the bottom field comes half a frame later
            for (int x = 0; x < width; ++x) frame[y * width + x] = y >= 60 && y < 180 && x >= left && x < left + 80 ? 220 : 30;
        }
        if (i == 0) firstSource.assign(frame.begin(), frame.begin() + width * height);
        ASSERT_TRUE(encoder->Encode(frame.data(), frame.size(), i * kFrame30, &out));
    }
    encoder->Flush(&out);
    ASSERT_EQ(out.size(), size_t(count));
    std::set<int64_t> presented;
    std::vector<std::vector<uint8_t>> samples;
    for (const auto& f : out) {
        presented.insert(f.startTime);
        samples.push_back(f.data);
    }
    EXPECT_EQ(*presented.rbegin(), (count - 1) * kFrame30);

    const DecodedVideo decoded = DecodeH264(encoder->SequenceHeader(), samples);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, count);
    EXPECT_EQ(decoded.interlaced, 0);
    EXPECT_LT(Comb(decoded.firstLuma, width, height), 0.2 * Comb(firstSource, width, height));
}

// A picture whose top half is bright and warm and whose bottom half is dark and cool,
// fed in every layout the encoder takes: orientation and chroma order must survive.
TEST(H264Encoder, EveryInputLayoutKeepsOrientationAndColours)
{
    ScratchHome home;
    SetRegistryDword(kX264SettingsKey, "RCMethod ", 1);
    SetRegistryDword(kX264SettingsKey, "QPConst", 8);
    SetRegistryDword(kX264SettingsKey, "QPMin", 0);
    const int w = 64, h = 48;
    std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
    for (int row = 0; row < h; ++row) std::fill_n(y.begin() + row * w, w, row < h / 2 ? 160 : 60);
    for (int row = 0; row < h / 2; ++row) {
        std::fill_n(u.begin() + row * w / 2, w / 2, row < h / 4 ? 110 : 150);
        std::fill_n(v.begin() + row * w / 2, w / 2, row < h / 4 ? 160 : 110);
    }
    struct Case {
        PixelLayout layout;
        int stride;
        bool bottomUp;
        std::vector<uint8_t> data;
    };
    std::vector<Case> cases;
    auto planar = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        std::vector<uint8_t> d(y);
        d.insert(d.end(), a.begin(), a.end());
        d.insert(d.end(), b.begin(), b.end());
        return d;
    };
    cases.push_back({PixelLayout::I420, w, false, planar(u, v)});
    cases.push_back({PixelLayout::YV12, w, false, planar(v, u)});
    std::vector<uint8_t> packed(w * h * 2), nv12(w * h * 3 / 2), rgb24(w * h * 3), rgb32(w * h * 4);
    libyuv::I420ToNV12(y.data(), w, u.data(), w / 2, v.data(), w / 2, nv12.data(), w, nv12.data() + w * h, w, w, h);
    cases.push_back({PixelLayout::NV12, w, false, nv12});
    libyuv::I420ToYUY2(y.data(), w, u.data(), w / 2, v.data(), w / 2, packed.data(), w * 2, w, h);
    cases.push_back({PixelLayout::YUY2, w * 2, false, packed});
    libyuv::I420ToYUY2(y.data(), w, v.data(), w / 2, u.data(), w / 2, packed.data(), w * 2, w, h);
    cases.push_back({PixelLayout::YVYU, w * 2, false, packed});
    libyuv::I420ToUYVY(y.data(), w, u.data(), w / 2, v.data(), w / 2, packed.data(), w * 2, w, h);
    cases.push_back({PixelLayout::UYVY, w * 2, false, packed});
    std::vector<uint8_t> u422(w * h / 2), v422(w * h / 2);
    for (int row = 0; row < h; ++row) {
        std::copy_n(u.begin() + (row / 2) * w / 2, w / 2, u422.begin() + row * w / 2);
        std::copy_n(v.begin() + (row / 2) * w / 2, w / 2, v422.begin() + row * w / 2);
    }
    cases.push_back({PixelLayout::YV16, w, false, planar(v422, u422)});
    // DirectShow RGB is bottom-up: libyuv writes it flipped when given a negative height.
    libyuv::I420ToRGB24(y.data(), w, u.data(), w / 2, v.data(), w / 2, rgb24.data(), w * 3, w, -h);
    cases.push_back({PixelLayout::RGB24, w * 3, true, rgb24});
    libyuv::I420ToARGB(y.data(), w, u.data(), w / 2, v.data(), w / 2, rgb32.data(), w * 4, w, h);
    cases.push_back({PixelLayout::RGB32, w * 4, false, rgb32});

    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.layout));
        std::string error;
        auto encoder = H264Encoder::Create(ReadX264Settings(), {c.layout, w, h, c.stride, c.bottomUp}, kFrame30,
                                           &error);
        ASSERT_TRUE(encoder) << error;
        std::vector<EncodedFrame> out;
        EXPECT_FALSE(encoder->Encode(c.data.data(), c.data.size() - 1, 0, &out));  // short buffer
        ASSERT_TRUE(encoder->Encode(c.data.data(), c.data.size(), 0, &out));
        encoder->Flush(&out);
        ASSERT_EQ(out.size(), 1u);
        const DecodedVideo d = DecodeH264(encoder->SequenceHeader(), {out[0].data});
        ASSERT_EQ(d.frames, 1);
        EXPECT_NEAR(Mean(d.firstLuma, w, 4, h / 2 - 8), 160, 8);
        EXPECT_NEAR(Mean(d.firstLuma, w, h / 2 + 4, h / 2 - 8), 60, 8);
        EXPECT_NEAR(Mean(d.firstChromaU, w / 2, 2, h / 4 - 4), 110, 8);
        EXPECT_NEAR(Mean(d.firstChromaV, w / 2, 2, h / 4 - 4), 160, 8);
        EXPECT_NEAR(Mean(d.firstChromaU, w / 2, h / 4 + 2, h / 4 - 4), 150, 8);
    }
}
