// The real camera path, on whatever V4L2 capture device this machine has (skipped without one).
#include <gtest/gtest.h>

#include "devices/v4l2_camera.h"

namespace {

TEST(V4l2Camera, OpensListsFormatsAndCapturesAFrame)
{
    auto cameras = ListV4l2Cameras();
    if (cameras.empty()) GTEST_SKIP() << "no V4L2 capture device";
    std::string error;
    auto camera = OpenV4l2Camera(cameras[0].path, &error);
    ASSERT_TRUE(camera) << error;
    ASSERT_FALSE(camera->Formats().empty());
    for (const auto& f : camera->Formats()) {
        EXPECT_GT(f.width, 0);
        EXPECT_FALSE(f.intervals.empty());
    }
    const VideoFormat& format = camera->Formats()[0];
    ASSERT_TRUE(camera->Start(format, format.MinInterval(), &error)) << error;
    std::vector<uint8_t> frame(FrameBytes(format.pixel, format.width, format.height));
    size_t length = 0;
    CaptureResult result = CaptureResult::Timeout;
    for (int i = 0; i < 100 && result == CaptureResult::Timeout; ++i)
        result = camera->Capture(frame.data(), frame.size(), &length, 50);
    camera->Stop();
    EXPECT_EQ(result, CaptureResult::Frame);
    EXPECT_GT(length, 0u);
    for (const auto& c : camera->Controls()) EXPECT_LE(c.minimum, c.maximum) << c.name;
}

}  // namespace
