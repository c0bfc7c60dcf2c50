// Media-type helpers and format-block readers on well-formed and hostile blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "dshow/mtype.h"
#include "test_filters.h"

namespace {

TEST(MediaType, CopiesAreDeepAndComparisonLooksAtTheFormatBytes)
{
    CMediaType a = VideoOf(MEDIASUBTYPE_YUY2, 640, 480, 16);
    CMediaType b(a);
    ASSERT_NE(a.Format(), b.Format());
    EXPECT_TRUE(a == b);
    b.Format()[20] ^= 1;
    EXPECT_FALSE(a == b);

    AM_MEDIA_TYPE* heap = CreateMediaType(&a);
    ASSERT_NE(heap, nullptr);
    EXPECT_NE(heap->pbFormat, a.pbFormat);
    EXPECT_TRUE(CMediaType(*heap) == a);
    DeleteMediaType(heap);

    // A partial type matches on what it names; a named format type compares the block too.
    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(a.MatchesPartial(&partial));
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_FALSE(a.IsPartiallySpecified());
    EXPECT_FALSE(a.MatchesPartial(&b));
}

TEST(MediaType, LengthWithoutBytesCountsAsNoBlock)
{
    // What a careless filter may hand over: a length but no block.
    AM_MEDIA_TYPE raw{};
    raw.majortype = MEDIATYPE_Video;
    raw.formattype = FORMAT_VideoInfo;
    raw.cbFormat = 88;
    CMediaType copy(raw);
    EXPECT_EQ(copy.FormatLength(), 0u);
    EXPECT_EQ(copy.Format(), nullptr);
    CMediaType other;
    static_cast<AM_MEDIA_TYPE&>(other) = raw;  // borrowed, no block to free
    EXPECT_TRUE(copy == other);
    EXPECT_TRUE(copy.MatchesPartial(&other));
    EXPECT_EQ(GetBitmapInfoHeader(other), nullptr);
    other.cbFormat = 0;

    // Setting a block from itself keeps its bytes.
    CMediaType self = VideoOf(MEDIASUBTYPE_RGB24, 2, 2, 24);
    std::vector<BYTE> before(self.Format(), self.Format() + self.FormatLength());
    EXPECT_TRUE(self.SetFormat(self.Format(), self.FormatLength()));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), self.Format()));
}

TEST(FormatReaders, VideoHeadersNeedTheirWholeStructure)
{
    CMediaType v2(&MEDIATYPE_Video);
    v2.SetFormatType(&FORMAT_VideoInfo2);
    auto* info = reinterpret_cast<VIDEOINFOHEADER2*>(v2.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    info->AvgTimePerFrame = 333667;
    info->bmiHeader.biWidth = 1280;
    info->bmiHeader.biHeight = -720;
    EXPECT_EQ(GetVideoInfoHeader2(v2), info);
    EXPECT_EQ(GetVideoInfoHeader(v2), nullptr);  // the other format type
    EXPECT_EQ(&GetBitmapInfoHeader(v2)->biWidth, &info->bmiHeader.biWidth);
    EXPECT_EQ(GetAvgTimePerFrame(v2), 333667);
    v2.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER2) - 1);
    EXPECT_EQ(GetVideoInfoHeader2(v2), nullptr);
    EXPECT_EQ(GetBitmapInfoHeader(v2), nullptr);
    EXPECT_EQ(GetAvgTimePerFrame(v2), 0);

    // MPEG-1 blocks carry a VIDEOINFOHEADER and a byte sequence header at offset 96.
    CMediaType mpeg1(&MEDIATYPE_Video);
    mpeg1.SetFormatType(&FORMAT_MPEGVideo);
    auto* m1 = reinterpret_cast<MPEG1VIDEOINFO*>(mpeg1.AllocFormatBuffer(SIZE_MPEG1VIDEOINFO(4)));
    m1->hdr.bmiHeader.biWidth = 352;
    m1->cbSequenceHeader = 4;
    std::memcpy(m1->bSequenceHeader, "\x00\x00\x01\xB3", 4);
    ASSERT_EQ(GetSequenceHeader(mpeg1).size(), 4u);
    EXPECT_EQ(GetSequenceHeader(mpeg1)[3], 0xB3);
    EXPECT_EQ(GetBitmapInfoHeader(mpeg1)->biWidth, 352);
    m1->cbSequenceHeader = 0xFFFFFFFF;  // far past the block
    EXPECT_TRUE(GetSequenceHeader(mpeg1).empty());
    mpeg1.ReallocFormatBuffer(90);  // shorter than the length field's end
    EXPECT_TRUE(GetSequenceHeader(mpeg1).empty());
}

TEST(FormatReaders, WaveFormatAndItsExtraBytes)
{
    CMediaType audio(&MEDIATYPE_Audio);
    audio.SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(audio.AllocFormatBuffer(sizeof(WAVEFORMATEX) + 2));
    *wfx = {WAVE_FORMAT_RAW_AAC1, 2, 44100, 16000, 1, 16, 2};
    audio.Format()[18] = 0x12;
    audio.Format()[19] = 0x10;
    ASSERT_EQ(GetWaveFormatExtra(audio).size(), 2u);
    EXPECT_EQ(GetWaveFormatExtra(audio)[0], 0x12);
    EXPECT_EQ(DescribeMediaType(audio), "Audio any WaveFormatEx tag 0x00FF 44100Hz 2ch 16bit extra 2 bytes");

    // A bare 16-byte WAVEFORMAT has no cbSize to read.
    audio.ReallocFormatBuffer(16);
    EXPECT_EQ(GetWaveFormatEx(audio), nullptr);
    EXPECT_TRUE(GetWaveFormatExtra(audio).empty());
    audio.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_EQ(GetWaveFormatEx(audio), nullptr);
}

TEST(FormatReaders, FrameSizesOfPackedPlanarAndImpossibleBitmaps)
{
    BITMAPINFOHEADER bi{sizeof(BITMAPINFOHEADER), 3, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(GetBitmapFrameSize(bi), 12u * 2);  // 9 bytes padded to 12 per row, top-down
    bi.biBitCount = 12;
    bi.biCompression = MakeFourCC('Y', 'V', '1', '2');
    bi.biWidth = 5;
    bi.biHeight = 3;
    EXPECT_EQ(GetBitmapFrameSize(bi), 15u + 2 * 3 * 2);  // odd sides round the chroma planes up
    bi.biHeight = INT32_MIN;
    EXPECT_EQ(GetBitmapFrameSize(bi), 0u);
    bi.biHeight = 0;
    EXPECT_EQ(GetBitmapFrameSize(bi), 0u);
    bi = {sizeof(BITMAPINFOHEADER), 0x7FFFFFFF, 0x7FFFFFFF, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(GetBitmapFrameSize(bi), 0u);  // overflows: no such frame
    bi = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 0, MakeFourCC('M', 'J', 'P', 'G'), 5000, 0, 0, 0, 0};
    EXPECT_EQ(GetBitmapFrameSize(bi), 5000u);  // compressed: the header's own size
}

TEST(FormatReaders, DescriptionsNameKnownGuidsAndFourCCs)
{
    EXPECT_EQ(DescribeMediaType(VideoOf(MEDIASUBTYPE_YUY2, 640, 480, 16)),
              "Video YUY2 VideoInfo 640x480 16bit 25.000fps");
    EXPECT_EQ(MediaTypeName(GuidFromFourCC(MakeFourCC('H', '2', '6', '4'))), "H264");
    GUID odd = GuidFromFourCC(0x01020304);  // not printable: the GUID itself
    EXPECT_EQ(MediaTypeName(odd), GuidToString(odd));
    CMediaType unknown(&MEDIATYPE_Stream);
    BYTE block[7] = {};
    unknown.SetFormat(block, 7);
    EXPECT_EQ(DescribeMediaType(unknown), "Stream any any format 7 bytes");
}

}  // namespace
