#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "avc.h"
#include "dshow/mtype.h"
#include "flv_writer.h"
#include "rtmp_url.h"
#include "sink_log.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes SequenceHeader(size_t spsLength, size_t ppsLength)
{
    Bytes header = {uint8_t(spsLength >> 8), uint8_t(spsLength)};
    for (size_t i = 0; i < spsLength; ++i) header.push_back(i == 0 ? 0x67 : uint8_t(0x40 + i));
    header.push_back(uint8_t(ppsLength >> 8));
    header.push_back(uint8_t(ppsLength));
    for (size_t i = 0; i < ppsLength; ++i) header.push_back(i == 0 ? 0x68 : 0xEE);
    return header;
}

}  // namespace

TEST(ConnectionString, SplitsHostAppInstanceAndStream)
{
    RtmpUrl url = ParseConnectionString("rtmp://192.0.2.10/live/main/@chan42");
    EXPECT_EQ(url.host, "192.0.2.10");
    EXPECT_EQ(url.app, "live/main");
    EXPECT_EQ(url.streamName, "chan42");
    EXPECT_EQ(url.tcUrl, "rtmp://192.0.2.10/live/main");
    EXPECT_EQ(url.port, 1935);

    url = ParseConnectionString("rtmp://192.0.2.10/live/@chan42");
    EXPECT_EQ(url.app, "live");
    EXPECT_EQ(url.streamName, "chan42");
    EXPECT_EQ(url.tcUrl, "rtmp://192.0.2.10/live");

    // A port after the host is the server's port, and the tcUrl keeps it; without "@" the
    // stream name is the whole text. A text that is no port stays in the host.
    url = ParseConnectionString("rtmp://example.org:1936/app/name");
    EXPECT_EQ(url.host, "example.org");
    EXPECT_EQ(url.port, 1936);
    EXPECT_EQ(url.tcUrl, "rtmp://example.org:1936/app");
    EXPECT_EQ(url.app, "app");
    EXPECT_EQ(url.streamName, "rtmp://example.org:1936/app/name");
    for (const char* host : {"example.org:", "example.org:0", "example.org:65536", "example.org:19x"}) {
        url = ParseConnectionString(std::string("rtmp://") + host + "/app/@n");
        EXPECT_EQ(url.host, host);
        EXPECT_EQ(url.port, 1935);
    }

    url = ParseConnectionString("");
    EXPECT_EQ(url.host, "");
    EXPECT_EQ(url.tcUrl, "rtmp:///");
}

TEST(SinkLogLine, DayMonthYearWithoutLeadingZeros)
{
    std::tm when{};
    when.tm_mday = 7;
    when.tm_mon = 2;
    when.tm_year = 114;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    EXPECT_EQ(FormatLogLine(when, "CFLVMux:: Start Stream"), "[7/3/2014 - 9:5:3] CFLVMux:: Start Stream\n");
}

TEST(AvcConfig, RecordFromTheSequenceHeader)
{
    Bytes input = SequenceHeader(25, 4);
    Bytes record = BuildAvcConfig(input.data(), input.size());
    ASSERT_EQ(record.size(), 40u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 8), (Bytes{0x01, 0x41, 0x42, 0x43, 0xFF, 0xE1, 0x00, 0x19}));
    EXPECT_EQ(record[8], 0x67);
    EXPECT_EQ(record[33], 0x01);
    EXPECT_EQ(Bytes(record.begin() + 34, record.begin() + 37), (Bytes{0x00, 0x04, 0x68}));

    // Parameter sets beyond a hundred bytes are carried whole.
    input = SequenceHeader(300, 90);
    EXPECT_EQ(BuildAvcConfig(input.data(), input.size()).size(), 401u);

    // Lengths that run past the header give no record.
    input = SequenceHeader(25, 4);
    input.pop_back();
    EXPECT_TRUE(BuildAvcConfig(input.data(), input.size()).empty());
    Bytes tiny = {0x00, 0x02, 0x67, 0x42, 0x00, 0x00};
    EXPECT_TRUE(BuildAvcConfig(tiny.data(), tiny.size()).empty());
}

TEST(NalFraming, EveryStartCodeBecomesALength)
{
    Bytes sample = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x06, 0x05, 0x01, 0, 0, 0, 1, 0x65, 0x88, 0x84};
    ASSERT_TRUE(HasStartCode(sample.data(), sample.size()));
    size_t size = LengthPrefixedSize(sample.data(), sample.size());
    ASSERT_EQ(size, 4u + 2 + 4 + 3 + 4 + 3);
    Bytes out(size);
    ConvertStartCodes(sample.data(), sample.size(), out.data());
    EXPECT_EQ(out, (Bytes{0, 0, 0, 2, 0x09, 0xF0, 0, 0, 0, 3, 0x06, 0x05, 0x01, 0, 0, 0, 3, 0x65, 0x88, 0x84}));

    // Length-prefixed samples pass unchanged.
    Bytes prefixed = {0, 0, 1, 0, 0x65};
    EXPECT_FALSE(HasStartCode(prefixed.data(), prefixed.size()));
}

TEST(NalFraming, PacketsCarryTheConvertedSample)
{
    CMediaType video;
    video.majortype = MEDIATYPE_Video;
    video.subtype = MEDIASUBTYPE_AVC1;
    Bytes sample(1000, 0x41);
    sample[0] = sample[1] = sample[2] = 0;
    sample[3] = 1;
    PacketPtr packet = FLVWriter::PacketFromSample(sample.data(), uint32_t(sample.size()), video);
    ASSERT_EQ(packet->length, 1000u);
    EXPECT_EQ(Bytes(packet->data, packet->data + 4), (Bytes{0x00, 0x00, 0x03, 0xE4}));

    CMediaType audio;
    audio.majortype = MEDIATYPE_Audio;
    audio.subtype = MEDIASUBTYPE_RAW_AAC1;
    packet = FLVWriter::PacketFromSample(sample.data(), uint32_t(sample.size()), audio);
    EXPECT_EQ(Bytes(packet->data, packet->data + 4), (Bytes{0, 0, 0, 1}));
}

TEST(ExtraDataLoad, ReadsOnlyInsideTheFormatBlock)
{
    CMediaType audio;
    audio.majortype = MEDIATYPE_Audio;
    audio.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_RAW_AAC1;
    wave.nChannels = 2;
    wave.cbSize = 2;
    Bytes block(sizeof wave + 2);
    std::memcpy(block.data(), &wave, sizeof wave);
    block[18] = 0x12;
    block[19] = 0x10;
    audio.SetFormat(block.data(), ULONG(block.size()));
    ExtraData extra;
    ASSERT_EQ(extra.LoadFromMediaType(audio), 0);
    EXPECT_EQ(extra.bytes, (Bytes{0x12, 0x10}));

    // A cbSize larger than the block is cut to the block.
    wave.cbSize = 500;
    std::memcpy(block.data(), &wave, sizeof wave);
    audio.SetFormat(block.data(), ULONG(block.size()));
    ASSERT_EQ(extra.LoadFromMediaType(audio), 0);
    EXPECT_EQ(extra.bytes.size(), 2u);

    CMediaType video;
    video.formattype = FORMAT_MPEG2Video;
    Bytes sequence = SequenceHeader(10, 4);
    Bytes mpeg2(SIZE_MPEG2VIDEOINFO(ULONG(sequence.size())));
    uint32_t count = uint32_t(sequence.size());
    std::memcpy(mpeg2.data() + offsetof(MPEG2VIDEOINFO, cbSequenceHeader), &count, 4);
    std::memcpy(mpeg2.data() + offsetof(MPEG2VIDEOINFO, dwSequenceHeader), sequence.data(), sequence.size());
    video.SetFormat(mpeg2.data(), ULONG(mpeg2.size()));
    ASSERT_EQ(extra.LoadFromMediaType(video), 0);
    EXPECT_EQ(extra.bytes, sequence);

    CMediaType none;
    EXPECT_EQ(extra.LoadFromMediaType(none), -1);
}
