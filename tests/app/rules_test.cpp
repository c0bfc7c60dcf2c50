#include "com/guid.h"
#include "pipeline/bitrate_lists.h"
#include "pipeline/encoder_settings.h"
#include "pipeline/format_lists.h"
#include "pipeline/level_meter.h"
#include "pipeline/recording_file.h"
#include "registry/registry.h"
#include "session/session_clock.h"
#include "settings/folders.h"
#include "settings/program_settings.h"
#include "temp_home.h"

namespace {

using RulesTest = TempHomeTest;

int ReadDword(const char* key, const char* name)
{
    HKEY handle = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return -999;
    DWORD value = 0, type = 0, size = sizeof value;
    LSTATUS status = RegQueryValueEx(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && type == REG_DWORD ? int(value) : -999;
}

TEST_F(RulesTest, FirstUseWritesEncoderDefaultsOnce)
{
    RecordingPresenter presenter;
    EnsureEncoderDefaults(presenter);
    ASSERT_EQ(presenter.messages, std::vector<std::string>{"Please wait. Updating settings for current user."});
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "RCMethod "), 0);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "RCMethod"), -999);  // the name keeps its blank
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "VBVMaxRate"), 1228);
    EXPECT_EQ(ReadDword(kAudioEncoderKey, "Bitrate"), 128000);
    TVideo_Encoder video;
    ASSERT_TRUE(video.Registry_Read());
    EXPECT_EQ(video.Level, 12);
    EXPECT_EQ(video.KeyFrequency, 3);
    EXPECT_EQ(video.Bitrate, 1024);
    EXPECT_EQ(video.RefFrames, 5);
    EXPECT_EQ(video.PartitionsInter, 2);
    EXPECT_EQ(VideoBitrateText(video.Bitrate), "1024");
    TAudio_Encoder audio;
    ASSERT_TRUE(audio.Get_Bitrate());
    EXPECT_EQ(AudioBitrateText(audio.Bitrate), "128");
    EnsureEncoderDefaults(presenter);
    EXPECT_EQ(presenter.messages.size(), 1u);
}

TEST_F(RulesTest, MissingValueFailsTheReadAndAudioFallsBack)
{
    TVideo_Encoder video;
    video.Set_value("Level", 9);
    EXPECT_FALSE(video.Registry_Read());
    EXPECT_EQ(video.Level, 9);  // read before the missing one
    TAudio_Encoder audio;
    EXPECT_FALSE(audio.Get_Bitrate());
    audio.Resolve_Aerror_settings();
    EXPECT_EQ(audio.Bitrate, 128000);
}

TEST_F(RulesTest, KeyframeRuleFollowsIntervalAndFrameRate)
{
    EXPECT_EQ(WholeFrameRate("29.97"), 29);
    EXPECT_EQ(WholeFrameRate("30"), 30);
    EXPECT_EQ(WholeFrameRate(".5"), 30);
    TVideo_Encoder video;
    video.Resolve_Verror_settings();
    video.Set_KeyframeInterval(1, WholeFrameRate("29.97"));
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMin"), 16);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMax"), 29);
    video.Set_KeyframeInterval(3, 25);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "Keyfrequency"), 3);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMax"), 75);
    video.Set_Keyframe(50);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMin"), 50);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMax"), 150);
    video.Set_KeyframeInterval(2, 1);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMin"), 1);
    EXPECT_EQ(ReadDword(kVideoEncoderKey, "KeyIntMax"), 2);
}

TEST_F(RulesTest, BitrateListsAndRequiredTotal)
{
    TVideo_Encoder video;
    video.Set_Bitrate(1500);
    for (const char* name : {"Bitrate", "VBVMaxRate", "VBVSize"}) EXPECT_EQ(ReadDword(kVideoEncoderKey, name), 1500);
    EXPECT_EQ(VideoBitrateText(1234), "1000");
    EXPECT_EQ(AudioBitrateText(96000), "96");
    EXPECT_EQ(AudioBitrateText(100000), "128");
    EXPECT_EQ(AudioBitrateText(96500), "128");
    EXPECT_EQ(RequiredBitrate(true, "1024", true, "128"), 1152);
    EXPECT_EQ(RequiredBitrate(false, "1024", true, "128"), 128);
}

TEST_F(RulesTest, RecordingNameChecksAndCorrections)
{
    RecordingPresenter presenter;
    TprogramSettings settings(&presenter);
    const std::string folder = Root() + "/";
    int flag = 1;
    std::string edit = folder + "show.flv";
    ASSERT_TRUE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(edit, folder + "show.mp4");
    EXPECT_EQ(presenter.messages.back(),
              "The extention '.flv' provided in the filename is not supported. The extention will be changed to mp4");

    presenter.messages.clear();
    edit = folder + "clip.part.avi";
    ASSERT_TRUE(ValidateRecordingFile(edit, settings, flag));
    ASSERT_EQ(presenter.messages.size(), 2u);
    EXPECT_EQ(presenter.messages[0],
              "The extention '.part.avi ' provided in the filename is not supported. Will be changed to .mp4");
    EXPECT_EQ(settings.File_name, "clip.mp4");
    EXPECT_EQ(settings.File_path, folder);

    edit = folder + "show.MP4";
    presenter.messages.clear();
    ASSERT_TRUE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_TRUE(presenter.messages.empty());
    EXPECT_EQ(settings.File_name, "show.MP4");

    edit = folder + "my show.mp4";
    EXPECT_FALSE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(presenter.messages.back().rfind("Cannot save file.The filename cannot contain", 0), 0u);
    EXPECT_EQ(flag, 1);
    edit = folder;
    EXPECT_FALSE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(presenter.messages.back(), "Cannot save file. Please check the filename.");
    edit = folder + "nowhere/x.mp4";
    EXPECT_FALSE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(flag, 0);
    std::filesystem::create_directories(folder + "take.mp4");  // a folder cannot be the file
    edit = folder + "take.mp4";
    EXPECT_FALSE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(presenter.messages.back(), "Cannot save file. Please check the filename.");

    WriteFile(folder + "show.mp4", "x");
    WriteFile(folder + "show(2).mp4", "x");
    edit = folder + "show.mp4";
    ASSERT_TRUE(ValidateRecordingFile(edit, settings, flag));
    EXPECT_EQ(edit, folder + "show(3).mp4");
    EXPECT_EQ(settings.File_name, "show(3).mp4");
}

TEST_F(RulesTest, BrowsedExistingFileIsDeletedOrNumbered)
{
    RecordingPresenter presenter;
    TprogramSettings settings(&presenter);
    const std::string chosen = Root() + "/take.mp4";
    WriteFile(chosen, "old");
    std::string edit;
    ApplyBrowsedRecordingFile(chosen, edit, settings);  // answered No
    EXPECT_EQ(presenter.messages.back(), chosen + "|File exists, overwrite?");
    EXPECT_EQ(edit, Root() + "/take(2).mp4");
    EXPECT_EQ(settings.File_name, "take(2).mp4");
    EXPECT_TRUE(FileExists(chosen));
    presenter.answer = true;
    ApplyBrowsedRecordingFile(chosen, edit, settings);
    EXPECT_EQ(edit, chosen);
    EXPECT_FALSE(FileExists(chosen));
}

TEST(NumberedName, IncrementsOnlyPositiveNumbers)
{
    EXPECT_EQ(NextNumberedName("a"), "a(2)");
    EXPECT_EQ(NextNumberedName("a(9)"), "a(10)");
    EXPECT_EQ(NextNumberedName("a(x)"), "a(x)(2)");
    EXPECT_EQ(NextNumberedName("a(0)"), "a(0)(2)");
    EXPECT_EQ(NextNumberedName("a("), "a((2)");
    EXPECT_EQ(NextNumberedName("a(1)b(5)"), "a(2)b(5)");
    EXPECT_EQ(NextNumberedName("a(2147483647)"), "a(2147483648)");
    EXPECT_EQ(RecordingNameFromDialog("/v/mp4dir/show"), "/v/mp4dir/show");
    EXPECT_EQ(RecordingNameFromDialog("/v/show"), "/v/show.mp4");
}

TEST(FormatLists, SortedUniqueByFirstWord)
{
    EXPECT_EQ(SortedUniqueByFirstWord({"YUY2", "MJPG", "RGB", "UYVY", "MJPG"}),
              (std::vector<std::string>{"RGB", "MJPG", "UYVY", "YUY2"}));
    EXPECT_EQ(SortedUniqueByFirstWord({"44100", "8000", "11025", "44100"}),
              (std::vector<std::string>{"8000", "11025", "44100"}));
    EXPECT_EQ(ColourFormatName(0), "RGB");
    EXPECT_EQ(ColourFormatName(MakeFourCC('Y', 'U', 'Y', '2')), "YUY2");
}

TEST(FormatLists, SizesPairHeaderKindsWhenHidden)
{
    std::vector<VideoTypeEntry> types = {
        {"YUY2", 640, 480, false, 0}, {"YUY2", 320, 240, true, 1}, {"MJPG", 1280, 720, true, 2},
        {"YUY2", 640, 480, true, 3},  {"YUY2", 320, 240, false, 4},
    };
    auto hidden = ListSizes(types, "YUY2", 1);
    ASSERT_EQ(hidden.size(), 2u);
    EXPECT_EQ(hidden[0].text, "320 x 240");
    EXPECT_EQ(hidden[0].position, 1);
    EXPECT_EQ(hidden[1].position, 3);
    auto all = ListSizes(types, "YUY2", 0);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].text, "320 x 240");
    auto singles = ListSizes({{"RGB", 800, 600, true, 0}, {"RGB", 640, 480, true, 1}}, "RGB", 1);
    ASSERT_EQ(singles.size(), 2u);  // nothing offered twice: all are listed
    EXPECT_EQ(singles[0].text, "640 x 480");
    int w = 0, h = 0;
    ASSERT_TRUE(ParseSizeText("1280 x 720", w, h));
    EXPECT_EQ(w * 10000 + h, 12800720);
    EXPECT_FALSE(ParseSizeText("", w, h));
}

TEST(FormatLists, FrameTimeSampleRatesPreviewAndOutputSize)
{
    double fps = 0;
    ASSERT_TRUE(ParseFramerate("29.97", fps));
    EXPECT_EQ(AvgTimePerFrame(fps), 333667);
    ASSERT_TRUE(ParseFramerate("60.00", fps));
    EXPECT_EQ(AvgTimePerFrame(fps), 166667);
    EXPECT_FALSE(ParseFramerate("0", fps));
    EXPECT_FALSE(ParseFramerate("30,00", fps));

    std::vector<AudioTypeEntry> audio = {{48000, 16, 2}, {8000, 16, 1}, {44100, 16, 2}, {44100, 8, 2}};
    EXPECT_EQ(ListSampleRates(audio), (std::vector<std::string>{"44100", "48000"}));
    EXPECT_EQ(ChooseAudioType(audio, "44100"), 2);
    EXPECT_EQ(ChooseAudioType(audio, "22050"), 0);
    EXPECT_EQ(ChooseAudioType({}, "22050"), -1);

    PreviewRect rect = PreviewPlacement(640, 480);
    EXPECT_EQ(std::vector<int>({rect.left, rect.top, rect.width, rect.height}), std::vector<int>({40, 0, 240, 180}));
    rect = PreviewPlacement(1920, 1080);
    EXPECT_EQ(std::vector<int>({rect.left, rect.top, rect.width, rect.height}), std::vector<int>({0, 0, 320, 180}));

    EXPECT_EQ(ResizeHeightForWidth(800, 640, 480), 600);
    EXPECT_EQ(ResizeHeightForWidth(1000, 640, 480), 750);
    EXPECT_FALSE(ResizeHeightForWidth(1000, 640, 0));
    EXPECT_EQ(NormalizeSizeField(""), "0");
    EXPECT_EQ(NormalizeSizeField("05"), "5");
    EXPECT_EQ(CheckOutputSize("1920", "1080"), "");
    EXPECT_EQ(CheckOutputSize("80", "60"), "");
    for (auto [w, h] : {std::pair{"79", "60"}, {"80", "59"}, {"1921", "1080"}, {"1920", "1081"}})
        EXPECT_EQ(CheckOutputSize(w, h), "Please provide Output video size in range 80 x 60 to 1920 x 1080");
    EXPECT_EQ(CheckOutputSize("0", "600"), "Please enter a valid Output video size value");
    EXPECT_EQ(CheckOutputSize("800", ""), "Please enter a valid Output video size value");
}

TEST(LevelMeter, PeakScansTheFirstHalfAndSegmentsFollowIt)
{
    std::vector<uint8_t> buffer(2048, 0);
    buffer[2 * 511] = 0x00;
    buffer[2 * 511 + 1] = 0x80;  // -32768 at the last scanned sample
    buffer[2 * 600 + 1] = 0x7F;  // beyond the scanned half
    EXPECT_EQ(PeakOfBuffer(buffer.data(), 2048), 32768);
    buffer[2 * 511 + 1] = 0;
    EXPECT_EQ(PeakOfBuffer(buffer.data(), 2048), 0);
    EXPECT_EQ(PeakOfBuffer(buffer.data(), 3), 0);
    int n = MeterSegments(180);
    EXPECT_EQ(n, 30);
    EXPECT_EQ(MeterLevel(32768, n), 30);
    EXPECT_EQ(MeterLevel(1090, n), 0);
    EXPECT_EQ(MeterLevel(1091, n), 1);
    std::vector<uint8_t> big(300000, 0);
    big[2 * 65535 + 1] = 0x10;  // last of the 65,536 scanned samples
    big[2 * 65536 + 1] = 0x7F;
    EXPECT_EQ(PeakOfBuffer(big.data(), long(big.size())), 0x1000);
}

TEST(SessionClockTest, ClockDaysAndOutgoingRate)
{
    EXPECT_EQ(FormatSessionClock(3723000LL * 10000), "01:02:03");
    SessionClock clock;
    int64_t last = (86400000LL - 1000) * 10000;  // 23:59:59
    clock.Tick(&last);
    EXPECT_EQ(clock.clockText, "23:59:59");
    EXPECT_FALSE(clock.daysVisible);
    int64_t next = 86400000LL * 10000;
    clock.Tick(&next);
    EXPECT_EQ(clock.clockText, "00:00:00");
    EXPECT_EQ(clock.days, 1);
    EXPECT_TRUE(clock.daysVisible);
    clock.Tick(&next);
    EXPECT_EQ(clock.days, 1);
    SessionClock skipped;
    int64_t before = (86400000LL - 2000) * 10000;
    skipped.Tick(&before);
    skipped.Tick(&next);
    EXPECT_EQ(skipped.days, 0);

    OutgoingRate rate;
    rate.OnSent(60000);
    rate.OnSent(4000);
    EXPECT_EQ(rate.TakeKbpsText(), "500");
    EXPECT_EQ(rate.TakeKbpsText(), "0");
}

}  // namespace
