#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "aac/aac_encoder.h"
#include "h264/h264_encoder.h"
#include "mp4/mp4_writer.h"
#include "test_support.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kRate = 48000;
constexpr int64_t kFrame = 400000;  // 25 fps

// Ten seconds of encoded video and audio, made once for all tests.
struct Recording {
    std::vector<uint8_t> sequenceHeader;
    std::vector<EncodedFrame> video;
    std::vector<uint8_t> audioConfig;
    std::vector<EncodedFrame> audio;
};

const Recording& TenSeconds()
{
    static const Recording recording = [] {
        ScratchHome home;
        SetRegistryDword(kX264SettingsKey, "KeyIntMax", 25);
        Recording r;
        auto video = H264Encoder::Create(ReadX264Settings(), {PixelLayout::I420, kWidth, kHeight, kWidth, false},
                                         kFrame, nullptr);
        for (int i = 0; i < 250; ++i) {
            const auto frame = MovingPictureI420(kWidth, kHeight, i);
            video->Encode(frame.data(), frame.size(), i * kFrame, &r.video);
        }
        video->Flush(&r.video);
        r.sequenceHeader = video->SequenceHeader();
        auto audio = AacEncoder::Create(kRate, 2, 128000, nullptr);
        std::vector<int16_t> silence(kRate / 50 * 2);
        for (int i = 0; i < 500; ++i) audio->Encode(silence.data(), kRate / 50, i * 200000LL, &r.audio);
        audio->Flush(&r.audio);
        r.audioConfig = audio->AudioSpecificConfig();
        return r;
    }();
    return recording;
}

std::unique_ptr<Mp4Writer> OpenWriter(const std::string& path, bool withVideo, bool withAudio)
{
    const Recording& r = TenSeconds();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::optional<Mp4VideoTrack> video;
    std::optional<Mp4AudioTrack> audio;
    if (withVideo) video = Mp4VideoTrack{kWidth, kHeight, kFrame, r.sequenceHeader};
    if (withAudio) audio = Mp4AudioTrack{kRate, 2, 128000, r.audioConfig};
    std::string error;
    auto writer = Mp4Writer::Create(
        video, audio,
        [fd](int64_t offset, const uint8_t* data, size_t size) {
            return pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
        },
        &error);
    EXPECT_TRUE(writer) << error;
    return writer;
}

// Feeds the recording in time order up to `seconds`.
void Feed(Mp4Writer& writer, bool withVideo, bool withAudio, double seconds)
{
    const Recording& r = TenSeconds();
    size_t v = 0, a = 0;
    const int64_t end = static_cast<int64_t>(seconds * 1e7);
    while (true) {
        const bool videoLeft = withVideo && v < r.video.size() && r.video[v].decodingTime < end;
        const bool audioLeft = withAudio && a < r.audio.size() && r.audio[a].startTime < end;
        if (!videoLeft && !audioLeft) break;
        if (videoLeft && (!audioLeft || r.video[v].decodingTime <= r.audio[a].startTime)) {
            const auto& f = r.video[v++];
            ASSERT_TRUE(writer.WriteVideo(f.data.data(), f.data.size(), f.startTime, f.decodingTime, f.keyFrame));
        } else {
            const auto& f = r.audio[a++];
            ASSERT_TRUE(writer.WriteAudio(f.data.data(), f.data.size(), f.startTime, f.stopTime));
        }
    }
}

std::string DecodeErrors(const std::string& path)
{
    return RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

}  // namespace

TEST(Mp4Writer, RecordsBothTracksWithTheirDurations)
{
    ScratchHome home;
    const std::string path = home.File("both.mp4");
    auto writer = OpenWriter(path, true, true);
    ASSERT_TRUE(writer);
    Feed(*writer, true, true, 10);
    ASSERT_TRUE(writer->Finish());
    writer.reset();
    const auto ends = TrackEnds(path);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_NEAR(ends.at("video"), 10.0, 0.15);
    EXPECT_NEAR(ends.at("audio"), 10.0, 0.15);
    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_NE(RunCommand("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + path + "'")
                  .find("320,240"),
              std::string::npos);
}

TEST(Mp4Writer, OneConnectedInputGivesOneTrack)
{
    ScratchHome home;
    const std::string path = home.File("audio.mp4");
    auto writer = OpenWriter(path, false, true);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(writer->WriteVideo(TenSeconds().video[0].data.data(), 4, 0, 0, true));
    Feed(*writer, false, true, 4);
    ASSERT_TRUE(writer->Finish());
    const auto ends = TrackEnds(path);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NEAR(ends.at("audio"), 4.0, 0.15);
}

TEST(Mp4Writer, KilledRecordingStaysPlayableUpToItsLastFragment)
{
    ScratchHome home;
    const std::string path = home.File("killed.mp4");
    TenSeconds();  // encode before forking
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto writer = OpenWriter(path, true, true);
        Feed(*writer, true, true, 6.5);
        raise(SIGKILL);  // no trailer, no flush of what the muxer still holds
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto ends = TrackEnds(path);
    ASSERT_EQ(ends.size(), 2u);
    // Fragments close at each key frame (every second here): at most one is lost.
    EXPECT_GE(ends.at("video"), 5.0);
    EXPECT_LE(ends.at("video"), 6.6);
    EXPECT_GE(ends.at("audio"), 5.0);
    EXPECT_EQ(DecodeErrors(path), "");
}

// A flash and a tone burst captured at the same moment come out of the decoded recording
// together, also when B-frames make x264 decode the first frames before time zero.
TEST(Mp4Writer, FlashAndToneCapturedTogetherPlayTogether)
{
    for (const int pyramid : {0, 2}) {
        SCOPED_TRACE(pyramid);
        ScratchHome home;
        X264Settings settings;
        settings.bFrames = 3;
        settings.bPyramid = pyramid;
        const FlashAndTone clip = EncodeFlashAndTone(settings);
        ASSERT_FALSE(clip.video.empty());
        const std::string path = home.File("sync.mp4");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        auto writer = Mp4Writer::Create(Mp4VideoTrack{clip.width, clip.height, kSyncFrame, clip.sequenceHeader},
                                        Mp4AudioTrack{clip.sampleRate, 2, 128000, clip.audioSpecificConfig},
                                        [fd](int64_t offset, const uint8_t* data, size_t size) {
                                            return pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
                                        },
                                        nullptr);
        ASSERT_TRUE(writer);
        size_t v = 0, a = 0;
        while (v < clip.video.size() || a < clip.audio.size()) {
            if (a == clip.audio.size() || (v < clip.video.size() && clip.video[v].decodingTime <= clip.audio[a].startTime)) {
                const auto& f = clip.video[v++];
                ASSERT_TRUE(writer->WriteVideo(f.data.data(), f.data.size(), f.startTime, f.decodingTime, f.keyFrame));
            } else {
                const auto& f = clip.audio[a++];
                ASSERT_TRUE(writer->WriteAudio(f.data.data(), f.data.size(), f.startTime, f.stopTime));
            }
        }
        ASSERT_TRUE(writer->Finish());
        close(fd);
        const Onsets onsets = FlashAndToneOnsets(path);
        ASSERT_GE(onsets.flash, 0);
        ASSERT_GE(onsets.tone, 0);
        // The muxer may move both tracks by the AAC encoder's priming delay, but not apart.
        EXPECT_NEAR(onsets.flash, onsets.tone, 0.005);
    }
}
