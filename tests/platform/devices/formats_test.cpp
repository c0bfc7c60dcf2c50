// V4L2 capability lists (recorded from cameras as plain data) through translation, media-type
// building and format matching.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "com/taskmem.h"
#include "devices/capture_media_types.h"
#include "dshow/mtype.h"

namespace {

// A typical USB webcam: YUYV and MJPG, plus formats we do not translate.
const std::vector<V4l2FrameSize> kWebcam = {
    {V4L2_PIX_FMT_YUYV, 640, 480, {{1, 30}, {1, 15}}},
    {V4L2_PIX_FMT_YUYV, 320, 240, {{1, 30}}},
    {V4L2_PIX_FMT_H264, 1280, 720, {{1, 30}}},
    {V4L2_PIX_FMT_MJPEG, 1280, 720, {{1001, 30000}, {1, 60}}},
    {V4L2_PIX_FMT_SGRBG8, 640, 480, {{1, 30}}},
    {V4L2_PIX_FMT_NV12, 640, 480, {}},  // no interval: not offered
};

// A capture card with RGB and planar formats, BGR4 and XR24 describing the same frames.
const std::vector<V4l2FrameSize> kCaptureCard = {
    {V4L2_PIX_FMT_BGR24, 322, 240, {{1, 25}}},
    {V4L2_PIX_FMT_BGR32, 640, 480, {{1, 25}}},
    {V4L2_PIX_FMT_XBGR32, 640, 480, {{1, 50}}},
    {V4L2_PIX_FMT_UYVY, 1920, 1080, {{1, 50}, {1, 25}}},
    {V4L2_PIX_FMT_NV12, 1920, 1080, {{1, 25}}},
    {V4L2_PIX_FMT_YUV420, 1280, 720, {{1, 25}}},
};

struct MediaType : AM_MEDIA_TYPE {
    MediaType() : AM_MEDIA_TYPE{} {}
    ~MediaType() { CoTaskMemFree(pbFormat); }
};

TEST(V4l2Translation, KeepsOfferedFormatsInDeviceOrderWithIntervals)
{
    auto formats = TranslateV4l2Capabilities(kWebcam);
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].pixel, PixelFormat::YUY2);
    EXPECT_EQ(formats[0].width, 640);
    EXPECT_EQ(formats[0].intervals, (std::vector<REFERENCE_TIME>{333333, 666667}));
    EXPECT_EQ(formats[1].pixel, PixelFormat::YUY2);
    EXPECT_EQ(formats[1].width, 320);
    EXPECT_EQ(formats[2].pixel, PixelFormat::MJPG);
    // 29.97 fps is 333,667 units, 60 fps 166,667; the shortest interval is the default.
    EXPECT_EQ(formats[2].intervals, (std::vector<REFERENCE_TIME>{166667, 333667}));

    auto card = TranslateV4l2Capabilities(kCaptureCard);
    ASSERT_EQ(card.size(), 5u);
    EXPECT_EQ(card[0].pixel, PixelFormat::RGB24);
    EXPECT_EQ(card[1].pixel, PixelFormat::RGB32);
    EXPECT_EQ(card[1].intervals, std::vector<REFERENCE_TIME>{400000});  // the first alias wins
    EXPECT_EQ(card[2].pixel, PixelFormat::UYVY);
    EXPECT_EQ(card[3].pixel, PixelFormat::NV12);
    EXPECT_EQ(card[4].pixel, PixelFormat::I420);
}

TEST(V4l2Translation, NearestIntervalPicksSupportedRate)
{
    auto formats = TranslateV4l2Capabilities(kWebcam);
    EXPECT_EQ(formats[0].NearestInterval(0), 333333);
    EXPECT_EQ(formats[0].NearestInterval(400000), 333333);
    EXPECT_EQ(formats[0].NearestInterval(600000), 666667);
    VideoFormat any{PixelFormat::YUY2, 640, 480, {166667, 10000000}, true};
    EXPECT_EQ(any.NearestInterval(333667), 333667);
    EXPECT_EQ(any.NearestInterval(100000), 166667);
}

TEST(CaptureMediaTypes, VideoTypesCarryDibLayoutInBothHeaderKinds)
{
    auto card = TranslateV4l2Capabilities(kCaptureCard);
    MediaType vi, vi2;
    BuildVideoMediaType(card[0], VideoHeaderKind::VideoInfo, 400000, &vi);
    BuildVideoMediaType(card[0], VideoHeaderKind::VideoInfo2, 400000, &vi2);

    EXPECT_EQ(vi.majortype, MEDIATYPE_Video);
    EXPECT_EQ(vi.subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(vi.formattype, FORMAT_VideoInfo);
    ASSERT_EQ(vi.cbFormat, 88u);
    EXPECT_EQ(vi2.formattype, FORMAT_VideoInfo2);
    ASSERT_EQ(vi2.cbFormat, 112u);
    for (const AM_MEDIA_TYPE* mt : {static_cast<AM_MEDIA_TYPE*>(&vi), static_cast<AM_MEDIA_TYPE*>(&vi2)}) {
        const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(*mt);
        ASSERT_NE(bmi, nullptr);
        EXPECT_EQ(bmi->biWidth, 322);
        EXPECT_EQ(bmi->biHeight, 240);  // positive: bottom-up rows
        EXPECT_EQ(bmi->biCompression, BI_RGB);
        EXPECT_EQ(bmi->biBitCount, 24);
        EXPECT_EQ(bmi->biSizeImage, 968u * 240);  // 322 * 3 = 966 padded to 968
        EXPECT_EQ(mt->lSampleSize, 968u * 240);
        EXPECT_EQ(GetAvgTimePerFrame(*mt), 400000);
    }
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER2*>(vi2.pbFormat)->dwPictAspectRatioX, 322u);

    auto webcam = TranslateV4l2Capabilities(kWebcam);
    MediaType yuy2, mjpg;
    BuildVideoMediaType(webcam[0], VideoHeaderKind::VideoInfo, 333333, &yuy2);
    BuildVideoMediaType(webcam[2], VideoHeaderKind::VideoInfo, 166667, &mjpg);
    EXPECT_EQ(yuy2.subtype, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(GetBitmapInfoHeader(yuy2)->biCompression, MakeFourCC('Y', 'U', 'Y', '2'));
    EXPECT_EQ(GetBitmapInfoHeader(yuy2)->biSizeImage, 640u * 480 * 2);
    EXPECT_TRUE(yuy2.bFixedSizeSamples);
    EXPECT_EQ(mjpg.subtype, MEDIASUBTYPE_MJPG);
    EXPECT_EQ(GetBitmapInfoHeader(mjpg)->biCompression, MakeFourCC('M', 'J', 'P', 'G'));
    EXPECT_FALSE(mjpg.bFixedSizeSamples);

    MediaType nv12;
    BuildVideoMediaType(card[3], VideoHeaderKind::VideoInfo, 400000, &nv12);
    EXPECT_EQ(GetBitmapInfoHeader(nv12)->biSizeImage, 1920u * 1080 * 3 / 2);
}

TEST(CaptureMediaTypes, MatchFindsFormatSizeAndNearestRate)
{
    auto webcam = TranslateV4l2Capabilities(kWebcam);
    MediaType wanted;
    BuildVideoMediaType(webcam[0], VideoHeaderKind::VideoInfo2, 650000, &wanted);
    VideoChoice choice{};
    ASSERT_TRUE(MatchVideoMediaType(webcam, wanted, &choice));
    EXPECT_EQ(choice.formatIndex, 0u);
    EXPECT_EQ(choice.kind, VideoHeaderKind::VideoInfo2);
    EXPECT_EQ(choice.interval, 666667);

    // A size the device does not list, or a subtype it does not offer, is refused.
    reinterpret_cast<VIDEOINFOHEADER2*>(wanted.pbFormat)->bmiHeader.biWidth = 800;
    EXPECT_FALSE(MatchVideoMediaType(webcam, wanted, &choice));
    MediaType rgb;
    BuildVideoMediaType({PixelFormat::RGB24, 640, 480, {333333}}, VideoHeaderKind::VideoInfo, 0, &rgb);
    EXPECT_FALSE(MatchVideoMediaType(webcam, rgb, &choice));
    // A truncated format block is not read.
    MediaType shortBlock;
    BuildVideoMediaType(webcam[0], VideoHeaderKind::VideoInfo, 0, &shortBlock);
    shortBlock.cbFormat = 40;
    EXPECT_FALSE(MatchVideoMediaType(webcam, shortBlock, &choice));
}

TEST(CaptureMediaTypes, AudioTypesAndCaps)
{
    std::vector<AudioFormat> formats = {{44100, 2}, {48000, 2}, {8000, 1}};
    MediaType mt;
    BuildAudioMediaType(formats[2], &mt);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    ASSERT_EQ(mt.cbFormat, 18u);
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    EXPECT_EQ(wf->nSamplesPerSec, 8000u);
    EXPECT_EQ(wf->nChannels, 1);
    EXPECT_EQ(wf->nBlockAlign, 2);
    EXPECT_EQ(wf->nAvgBytesPerSec, 16000u);
    size_t index = 99;
    ASSERT_TRUE(MatchAudioMediaType(formats, mt, &index));
    EXPECT_EQ(index, 2u);
    reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->nChannels = 2;
    EXPECT_FALSE(MatchAudioMediaType(formats, mt, &index));

    VIDEO_STREAM_CONFIG_CAPS caps;
    FillVideoCaps(TranslateV4l2Capabilities(kWebcam)[0], &caps);
    EXPECT_EQ(caps.guid, MEDIATYPE_Video);
    EXPECT_EQ(caps.MaxOutputSize.cx, 640);
    EXPECT_EQ(caps.MinFrameInterval, 333333);
    EXPECT_EQ(caps.MaxFrameInterval, 666667);
}

}  // namespace
