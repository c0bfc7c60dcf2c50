// V4L2 cameras against scripted drivers (what real cameras, grabbers and infrared nodes answer),
// and the real camera path on whatever capture device this machine has.
#include <gtest/gtest.h>

#include "capture_harness.h"
#include "devices/capture_filters.h"
#include "dshow/refclock.h"
#include "fake_v4l2.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;

std::unique_ptr<VideoCamera> OpenFake(FakeDriver& driver, int stallMs = 3000)
{
    std::string error;
    auto camera = OpenV4l2Camera(driver.Open(), "/dev/video9", &error, {stallMs});
    EXPECT_TRUE(camera) << error;
    return camera;
}

FakeDriverConfig Webcam(std::vector<V4l2FrameSize> listed)
{
    FakeDriverConfig config;
    config.listed = std::move(listed);
    config.current = {640, 480, config.listed[0].pixelformat};
    return config;
}

TEST(ScriptedCamera, AnalogGrabberWithoutSizeEnumerationListsFormatsAtItsCurrentRate)
{
    struct Case {
        v4l2_fract parm;  // what G_PARM answers
        v4l2_std_id standard;
        REFERENCE_TIME interval;
    };
    for (Case c : {Case{{1, 50}, V4L2_STD_PAL_B, 200000}, Case{{}, V4L2_STD_PAL_B, 400000},
                   Case{{}, V4L2_STD_NTSC_M, 333667}, Case{{}, 0, 333333}}) {
        FakeDriverConfig config;
        config.listed = {{V4L2_PIX_FMT_YUYV, 0, 0, {}}, {V4L2_PIX_FMT_BGR24, 0, 0, {}}};
        config.enumeratesSizes = false;
        config.maxWidth = 768;
        config.maxHeight = 576;
        config.current = {768, 576, V4L2_PIX_FMT_YUYV};
        config.parm = c.parm;
        config.standard = c.standard;
        FakeDriver driver(config);
        auto camera = OpenFake(driver);
        ASSERT_TRUE(camera);
        using Size = std::pair<LONG, LONG>;
        std::vector<Size> yuy2;
        for (const VideoFormat& f : camera->Formats()) {
            EXPECT_EQ(f.intervals, std::vector<REFERENCE_TIME>{c.interval});
            if (f.pixel == PixelFormat::YUY2) yuy2.push_back({f.width, f.height});
        }
        EXPECT_EQ(yuy2.front(), Size(768, 576));  // the current size comes first
        EXPECT_NE(std::find(yuy2.begin(), yuy2.end(), Size(640, 480)), yuy2.end());
        EXPECT_EQ(std::find(yuy2.begin(), yuy2.end(), Size(1280, 720)), yuy2.end());
        // It starts at its standard's rate, whatever was asked.
        REFERENCE_TIME interval = 166667;
        std::string error;
        ASSERT_TRUE(camera->Start(camera->Formats()[1], &interval, &error)) << error;
        EXPECT_EQ(interval, c.interval);
    }
}

TEST(ScriptedCamera, InfraredNodeWithOnlyGreyIsNotListed)
{
    FakeDriverConfig ir = Webcam({{V4L2_PIX_FMT_GREY, 640, 360, {{1, 15}}}});
    ir.card = "Integrated Camera: IR";
    FakeDriverConfig color = Webcam({{V4L2_PIX_FMT_YUYV, 640, 480, {{1, 30}}}});
    color.card = "Integrated Camera";
    FakeDriver irDriver(ir), colorDriver(color);
    FakeNodes nodes;
    nodes.Add("/dev/video0", &colorDriver);
    nodes.Add("/dev/video2", &irDriver);
    auto cameras = ListV4l2Cameras(nodes);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].path, "/dev/video0");
    EXPECT_EQ(cameras[0].card, "Integrated Camera");
}

// A frame in the driver's layout: each plane's bytes count up from a per-plane value, and the
// padding at each row's end holds 0xEE, which must never reach the sample.
std::vector<uint8_t> DriverFrame(uint32_t code, uint32_t w, uint32_t h, uint32_t bpl, std::vector<uint8_t>* tight)
{
    struct Plane {
        uint32_t offset, stride, rowBytes, rows;
    };
    std::vector<Plane> planes;
    if (code == V4L2_PIX_FMT_NV12) planes = {{0, bpl, w, h}, {bpl * h, bpl, w, h / 2}};
    else if (code == V4L2_PIX_FMT_YUYV) planes = {{0, bpl, 2 * w, h}};
    else planes = {{0, bpl, w, h}, {bpl * h, bpl / 2, w / 2, h / 2}, {bpl * h + bpl / 2 * h / 2, bpl / 2, w / 2, h / 2}};
    std::vector<uint8_t> frame(bpl * h * (code == V4L2_PIX_FMT_YUYV ? 1 : 3) / (code == V4L2_PIX_FMT_YUYV ? 1 : 2), 0xEE);
    for (size_t p = 0; p < planes.size(); ++p)
        for (uint32_t y = 0; y < planes[p].rows; ++y)
            for (uint32_t x = 0; x < planes[p].rowBytes; ++x) {
                uint8_t value = uint8_t(p * 64 + y * planes[p].rowBytes + x);
                frame[planes[p].offset + y * planes[p].stride + x] = value;
                tight->push_back(value);
            }
    return frame;
}

TEST(ScriptedCamera, PaddedFramesArriveUnshearedPlaneByPlane)
{
    for (uint32_t code : {V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_YUYV}) {
        FakeDriverConfig config = Webcam({{code, 8, 4, {{1, 30}}}});
        config.padding = 24;
        FakeDriver driver(config);
        auto camera = OpenFake(driver);
        ASSERT_TRUE(camera);
        REFERENCE_TIME interval = 333333;
        std::string error;
        ASSERT_TRUE(camera->Start(camera->Formats()[0], &interval, &error)) << error;
        std::vector<uint8_t> tight;
        driver.Arrive({CSystemClock::Now(), DriverFrame(code, 8, 4, driver.Format().bytesperline, &tight)});
        std::vector<uint8_t> sample(tight.size() + 64, 0);
        size_t length = 0;
        REFERENCE_TIME taken;
        ASSERT_EQ(camera->Capture(sample.data(), sample.size(), 5000, &length, &taken), CaptureResult::Frame);
        sample.resize(length);
        EXPECT_EQ(sample, tight) << FourCCText(code);
    }

    // Rows reported shorter than a row would repeat rows: the format is refused at start.
    FakeDriverConfig config = Webcam({{V4L2_PIX_FMT_NV12, 8, 4, {{1, 30}}}});
    config.padding = -2;
    FakeDriver driver(config);
    auto camera = OpenFake(driver);
    REFERENCE_TIME interval = 333333;
    std::string error;
    EXPECT_FALSE(camera->Start(camera->Formats()[0], &interval, &error));
    EXPECT_EQ(error, "the device reports 6 bytes per line for rows of 8 bytes");
}

TEST(ScriptedCamera, FailedBufferQueryFreesTheDriversBuffers)
{
    FakeDriverConfig config = Webcam({{V4L2_PIX_FMT_YUYV, 640, 480, {{1, 30}}}});
    config.queryBufFailures = 1;
    FakeDriver driver(config);
    auto camera = OpenFake(driver);
    REFERENCE_TIME interval = 333333;
    std::string error;
    EXPECT_FALSE(camera->Start(camera->Formats()[0], &interval, &error));
    EXPECT_EQ(error.rfind("VIDIOC_QUERYBUF", 0), 0u) << error;
    // Otherwise the next VIDIOC_S_FMT would be refused with EBUSY.
    EXPECT_TRUE(camera->Start(camera->Formats()[0], &interval, &error)) << error;
}

AM_MEDIA_TYPE* FindType(IAMStreamConfig* config, const GUID& subtype, LONG width)
{
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps));
        if (mt->subtype == subtype && GetBitmapInfoHeader(*mt)->biWidth == width) return mt;
        DeleteMediaType(mt);
    }
    return nullptr;
}

// A camera listing YUYV before BGR4 at 30 fps, which accepts only 15 fps and delivers a little
// faster than that; two frames wait in the driver when the graph starts.
TEST(ScriptedCamera, ListedCodeAcceptedRateAndTimeStampsThatNeverGoBackwards)
{
    FakeDriverConfig config = Webcam({{V4L2_PIX_FMT_YUYV, 64, 48, {{1, 30}}},
                                      {V4L2_PIX_FMT_BGR32, 64, 48, {{1, 30}}},
                                      {V4L2_PIX_FMT_BGR32, 32, 24, {{1, 30}}}});
    config.accepted = {1, 15};
    FakeDriver driver(config);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CreateVideoCaptureFilter(OpenFake(driver), filter.Put()), S_OK);
    auto pin = TwoFilterGraph::CapturePin(filter.Get());
    ComPtr<IAMStreamConfig> streamConfig;
    ASSERT_EQ(pin.As(streamConfig), S_OK);
    AM_MEDIA_TYPE* rgb32 = FindType(streamConfig.Get(), MEDIASUBTYPE_RGB32, 64);
    AM_MEDIA_TYPE* small = FindType(streamConfig.Get(), MEDIASUBTYPE_RGB32, 32);
    ASSERT_TRUE(rgb32 && small);
    ASSERT_EQ(streamConfig->SetFormat(rgb32), S_OK);
    EXPECT_EQ(pin->QueryAccept(small), S_FALSE);  // another size after SetFormat
    EXPECT_EQ(pin->QueryAccept(rgb32), S_OK);
    DeleteMediaType(rgb32);
    DeleteMediaType(small);

    const size_t frameBytes = 64 * 48 * 4;
    REFERENCE_TIME before = CSystemClock::Now();
    for (uint8_t stale : {200, 201}) driver.Arrive({before - (300 - stale) * kMs, std::vector<uint8_t>(frameBytes, stale)});
    CaptureRun run;
    ASSERT_TRUE(run.Start(filter.Get()));
    REFERENCE_TIME now = CSystemClock::Now();
    const REFERENCE_TIME taken[] = {1, 60, 120, 130, 190, 250, 310, 370, 400, 470};  // ms, with a burst
    for (uint8_t k = 0; k < 10; ++k) driver.Arrive({now + taken[k] * kMs, std::vector<uint8_t>(frameBytes, k)});
    auto samples = run.sink->WaitFor(8);
    run.graph->TearDown();

    EXPECT_EQ(driver.Format().pixelformat, uint32_t(V4L2_PIX_FMT_BGR32));
    ASSERT_GE(samples.size(), 8u);
    EXPECT_EQ(samples[0].data[0], 0);  // what waited in the driver is dropped
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].stop - samples[i].start, 666667);
        if (i > 0) EXPECT_GE(samples[i].start, samples[i - 1].stop) << i;
    }
}

TEST(ScriptedCamera, RidesOutEioRestartsAStalledStreamOnceThenReportsItLost)
{
    FakeDriver driver(Webcam({{V4L2_PIX_FMT_YUYV, 16, 8, {{1, 30}}}}));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CreateVideoCaptureFilter(OpenFake(driver, 200), filter.Put()), S_OK);
    CaptureRun run;
    ASSERT_TRUE(run.Start(filter.Get()));
    auto frame = [&] { driver.Arrive({CSystemClock::Now() + kMs, std::vector<uint8_t>(16 * 8 * 2, 1)}); };
    frame();
    driver.Arrive({0, {}, EIO});  // a moment without signal
    frame();
    EXPECT_EQ(run.sink->WaitFor(2).size(), 2u);
    // No frames: streaming restarts, and the frames that follow get through.
    ASSERT_TRUE(driver.WaitForStreamOns(2));
    frame();
    EXPECT_EQ(run.sink->WaitFor(3).size(), 3u);
    // A stall that a restart does not cure loses the camera.
    EXPECT_EQ(run.graph->Events()->WaitFor(EC_ERRORABORT), kDeviceNotConnected);
    EXPECT_TRUE(driver.WaitForStreamOns(3));
    run.graph->TearDown();
}

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
    REFERENCE_TIME interval = format.MinInterval();
    ASSERT_TRUE(camera->Start(format, &interval, &error)) << error;
    std::vector<uint8_t> frame(FrameBytes(format.pixel, format.width, format.height));
    size_t length = 0;
    REFERENCE_TIME taken = -1;
    CaptureResult result = CaptureResult::Timeout;
    for (int i = 0; i < 100 && result == CaptureResult::Timeout; ++i)
        result = camera->Capture(frame.data(), frame.size(), 50, &length, &taken);
    camera->Stop();
    EXPECT_EQ(result, CaptureResult::Frame);
    EXPECT_GT(length, 0u);
    for (const auto& c : camera->Controls()) EXPECT_LE(c.minimum, c.maximum) << c.name;
}

}  // namespace
