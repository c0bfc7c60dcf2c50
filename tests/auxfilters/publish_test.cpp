// The encoders' samples published through the RTMP sink to nginx, as the broadcaster sends
// them: what the server records must keep a flash and a tone captured together in step, and
// its tag times must never step back.
#include <gtest/gtest.h>

#include <sstream>

#include "sink_harness.h"
#include "test_peers.h"
#include "test_support.h"

namespace {

// The units as the encoder filters deliver them: stamped with their decoding times, the
// presentation time beside it; AAC frames carry no stop time.
std::vector<EncodedUnit> Units(const std::vector<EncodedFrame>& frames, bool stopTimes)
{
    std::vector<EncodedUnit> units;
    for (const EncodedFrame& f : frames) {
        EncodedUnit unit;
        unit.data = f.data;
        unit.start = f.decodingTime;
        unit.stop = stopTimes ? f.decodingTime + (f.stopTime - f.startTime) : unit.start;
        unit.presentation = f.startTime;
        unit.decoding = f.decodingTime;
        unit.syncPoint = f.keyFrame;
        units.push_back(std::move(unit));
    }
    return units;
}

}  // namespace

TEST(PublishedTimes, FlashAndToneStayTogetherAndTagTimesRise)
{
    ScratchHome home;
    X264Settings settings;
    settings.bFrames = 3;
    settings.bPyramid = 2;
    const FlashAndTone clip = EncodeFlashAndTone(settings);
    ASSERT_FALSE(clip.video.empty());
    EncodedStreams streams;
    streams.video = Units(clip.video, true);
    streams.audio = Units(clip.audio, false);
    streams.sequenceHeader = clip.sequenceHeader;
    streams.audioSpecificConfig = clip.audioSpecificConfig;

    NginxRtmpServer nginx(home.Path());
    ASSERT_TRUE(nginx.Start());
    {
        SinkHarness sink;
        ASSERT_TRUE(sink.Control());
        sink.Control()->SetLogFolder((home.Path() + "/").c_str());
        sink.Control()->SetConnectionString(nginx.Url("live/@sync").c_str());
        ASSERT_EQ(sink.Control()->Connect(), 0);
        auto* source = new TestSource(&streams.video, AvcMediaType(streams, clip.width, clip.height, kSyncFrame),
                                      &streams.audio, AacMediaType(streams, 2, clip.sampleRate));
        source->AddRef();
        ASSERT_TRUE(sink.ConnectAndRun(source));
        sink.WaitUntilSent(source);
        sink.StopGraph(source);
        sink.Control()->Disconnect();
        source->Release();
    }
    nginx.Stop();
    const std::string flv = nginx.RecordPath("sync");

    const Onsets onsets = FlashAndToneOnsets(flv);
    ASSERT_GE(onsets.flash, 0);
    ASSERT_GE(onsets.tone, 0);
    EXPECT_NEAR(onsets.flash, onsets.tone, 0.005);

    std::string packets;
    RunCommand("ffprobe -v error -show_entries packet=dts_time -of csv=p=0 '" + flv + "'", &packets);
    std::istringstream lines(packets);
    double last = -1;
    int tags = 0, backward = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        const double dts = std::stod(line);
        backward += dts < last;
        last = dts;
        ++tags;
    }
    EXPECT_GT(tags, 100);
    EXPECT_EQ(backward, 0);
}
