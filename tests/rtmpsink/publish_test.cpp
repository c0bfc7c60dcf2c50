// Publishing real H.264 and AAC through the sink filter to real RTMP servers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sink_harness.h"
#include "test_peers.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kSeconds = 6;

// Encodes the test streams once for every test of this program.
const EncodedStreams& Streams()
{
    static EncodedStreams streams = [] {
        std::string dir = MakeTempDir();
        std::string file = dir + "/source.flv";
        RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kWidth) + "x" +
                   std::to_string(kHeight) + ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
                   std::to_string(kSeconds) +
                   " -c:v libx264 -preset veryfast -bf 2 -g 50 -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -f flv '" +
                   file + "'");
        return ReadFlvFile(file);
    }();
    return streams;
}

struct Publication {
    std::string log;
    uint64_t bytesSent = 0;
};

// Publishes both streams to `url` through the filter, as the program does.
Publication Publish(const std::string& url, int connectAttempts = 1)
{
    const EncodedStreams& streams = Streams();
    std::string logDir = MakeTempDir() + "/";
    SinkHarness sink;
    EXPECT_TRUE(sink.Control());
    if (!sink.Control()) return {};
    sink.Control()->SetLogFolder(logDir.c_str());
    sink.Control()->SetConnectionString(url.c_str());
    HRESULT connected = 1;
    for (int i = 0; i < connectAttempts && connected != 0; ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        connected = sink.Control()->Connect();
    }
    EXPECT_EQ(connected, 0);

    auto* source = new TestSource(&streams.video, AvcMediaType(streams, kWidth, kHeight, 400000), &streams.audio,
                                  AacMediaType(streams, 2, 44100));
    source->AddRef();
    EXPECT_TRUE(sink.ConnectAndRun(source));
    sink.WaitUntilSent(source);
    sink.StopGraph(source);
    uint8_t state = 0;
    sink.Control()->GetConnectionState(&state);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(sink.Control()->Disconnect(), 0);
    source->Release();
    return {ReadTextFile(logDir + "rtmp.log"), sink.BytesSent()};
}

// Both streams arrived whole and decode without an error.
void ExpectRecordingMatches(const std::string& file)
{
    const EncodedStreams& streams = Streams();
    EXPECT_EQ(ProbeStream(file, "v", "codec_name,width,height,r_frame_rate,nb_read_packets"),
              "h264," + std::to_string(kWidth) + "," + std::to_string(kHeight) + ",25/1," +
                  std::to_string(streams.video.size()));
    EXPECT_EQ(ProbeStream(file, "a", "codec_name,channels,nb_read_packets"),
              "aac,2," + std::to_string(streams.audio.size()));
    std::string duration;
    RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'", &duration);
    EXPECT_NEAR(std::stod(duration.empty() ? "0" : duration), kSeconds, 0.2);
    std::string errors;
    RunCommand("ffmpeg -v error -i '" + file + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    // An audio tag carries its frame's stop time.
    const EncodedStreams recorded = ReadFlvFile(file);
    ASSERT_EQ(recorded.audio.size(), streams.audio.size());
    for (size_t i = 0; i < streams.audio.size(); i += 50)
        EXPECT_EQ(recorded.audio[i].start / 10000, streams.audio[i].stop / 10000) << "audio frame " << i;
}

}  // namespace

TEST(PublishToNginx, RecordsBothStreamsWholeAndLogsTheSession)
{
    ASSERT_FALSE(Streams().video.empty());
    std::string dir = MakeTempDir();
    NginxRtmpServer nginx(dir);
    ASSERT_TRUE(nginx.Start());
    Publication publication = Publish(nginx.Url("live/@cam"));
    nginx.Stop();

    ExpectRecordingMatches(nginx.RecordPath("cam"));
    // Every send was reported: at least the recorded stream's bytes went out.
    uint64_t payload = 0;
    for (const EncodedUnit& unit : Streams().video) payload += unit.data.size();
    EXPECT_GT(publication.bytesSent, payload);

    std::string expected[] = {"CFLVMux::SetConnectionString",
                              nginx.Url("live/@cam"),
                              "RTMPConnection:: Handshake Ok",
                              "RTMPConnection:: Publish Ok",
                              "CFLVMux:: Start Stream",
                              "CFLVMux::Stop Streaming",
                              "----------------",
                              "CFLVMux::Disconnect: OK"};
    size_t at = 0;
    for (const std::string& line : expected) {
        size_t found = publication.log.find("] " + line + "\n", at);
        EXPECT_NE(found, std::string::npos) << line << "\n" << publication.log;
        if (found != std::string::npos) at = found;
    }
}

TEST(PublishToFfmpeg, ListeningFfmpegReceivesBothStreams)
{
    ASSERT_FALSE(Streams().video.empty());
    std::string file = MakeTempDir() + "/received.flv";
    std::string address = "rtmp://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/live";
    ChildProcess ffmpeg({"ffmpeg", "-v", "error", "-y", "-listen", "1", "-i", address + "/cam", "-c", "copy", "-f",
                         "flv", file});
    Publish(address + "/@cam", 50);
    EXPECT_EQ(ffmpeg.Wait(30), 0);
    std::string errors;
    RunCommand("ffmpeg -v error -i '" + file + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    // The one-shot server may lose the last packets; all of the rest arrive.
    std::string video = ProbeStream(file, "v", "codec_name,width,height");
    EXPECT_EQ(video, "h264," + std::to_string(kWidth) + "," + std::to_string(kHeight));
    EXPECT_EQ(ProbeStream(file, "a", "codec_name"), "aac");
    std::string packets = ProbeStream(file, "v", "nb_read_packets");
    EXPECT_GE(std::stoul(packets.empty() ? "0" : packets), Streams().video.size() - 5);
}
