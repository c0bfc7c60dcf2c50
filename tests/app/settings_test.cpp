#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "settings/app_config.h"
#include "settings/program_settings.h"
#include "temp_home.h"

namespace {

class SettingsTest : public TempHomeTest {
protected:
    std::string File() const { return SettingsFolder() + "settings.xml"; }
    std::string Log() const { return ReadFile(SettingsFolder() + "log.txt"); }
    // A complete file with one element's text replaced (or the element left out for nullptr).
    void WriteSettingsWith(const std::string& element, const char* text)
    {
        TprogramSettings fresh;
        fresh.Create_XML_file();
        std::string xml = ReadFile(File());
        size_t open = xml.find("<" + element + ">");
        if (open == std::string::npos) open = xml.find("<" + element + " />");
        size_t close = xml.find('\n', open);
        std::string replacement = text ? "<" + element + ">" + text + "</" + element + ">" : "";
        xml.replace(open, close - open, replacement);
        WriteFile(File(), xml);
    }
};

TEST_F(SettingsTest, FirstRunCreatesOwnerOnlyFileWithDefaults)
{
    TprogramSettings settings;
    settings.ReadSettings();
    struct stat info;
    ASSERT_EQ(stat(File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(Log().find("] Recreate settings XML file\r\n"), std::string::npos);
    EXPECT_EQ(settings.VideoSource, 1);
    EXPECT_EQ(settings.AudioSource, 1);
    EXPECT_EQ(settings.AudioChannels, 2);
    EXPECT_EQ(settings.AudioSampleRate, "44100");
    EXPECT_EQ(settings.Framerate, "30.00");
    EXPECT_EQ(settings.VideoFormat, "RGB");
    EXPECT_EQ(settings.Video_width, 800);
    EXPECT_EQ(settings.Video_height, 600);
    EXPECT_EQ(settings.Resize_width, 800);
    EXPECT_EQ(settings.Hide_Videosizes, 1);
    EXPECT_EQ(settings.Channel_index, -1);
    EXPECT_EQ(settings.File_name, "sample.mp4");
    EXPECT_EQ(settings.File_path, Videos() + "/");
    // Element order of a new file, including the three that are never read.
    std::string xml = ReadFile(File());
    size_t last = 0;
    for (const char* name : {"username", "password", "remember", "videosource", "videoindex", "video_width",
                             "video_height", "output_resize", "maintain_ration", "resize_width", "resize_height",
                             "videoformat", "videosize_index", "video_bitrate", "hide_videosizes", "framerate",
                             "framerate_half", "audiosource", "audioindex", "audiochannels", "audiosamplerate",
                             "audio_bitrate", "channel_index", "save_file", "file_name", "file_path"}) {
        size_t at = xml.find(std::string("<") + name);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name;
        last = at;
    }
    EXPECT_NE(xml.find("<Veltro>"), std::string::npos);
}

TEST_F(SettingsTest, MissingDataFoldersAreCreated)
{
    setenv("XDG_DATA_HOME", (Root() + "/fresh/share").c_str(), 1);
    TprogramSettings settings;
    settings.ReadSettings();
    EXPECT_TRUE(std::filesystem::exists(Root() + "/fresh/share/Veltro/settings.xml"));
    EXPECT_EQ(settings.Channel_index, -1);
}

TEST_F(SettingsTest, InvalidNumbersTakeFallbacksAndOnlyOneHidesSizes)
{
    for (const auto& [text, expected] : {std::pair<const char*, int>{"1", 1}, {"0", 0}, {"true", 0}, {"", 0}}) {
        WriteSettingsWith("hide_videosizes", text);
        TprogramSettings settings;
        settings.ReadSettings();
        EXPECT_EQ(settings.Hide_Videosizes, expected) << text;
    }
    WriteSettingsWith("remember", "yes");
    std::string xml = ReadFile(File());
    xml.replace(xml.find("<audiochannels>2"), 16, "<audiochannels>x");
    WriteFile(File(), xml);
    TprogramSettings settings;
    settings.remember = 7;
    settings.ReadSettings();
    EXPECT_EQ(settings.remember, 0);
    EXPECT_EQ(settings.AudioChannels, 2);
    EXPECT_EQ(settings.File_name, "sample.mp4");
}

TEST_F(SettingsTest, MissingKeyWithoutFallbackStopsReadingAndWriteAppendsIt)
{
    WriteSettingsWith("file_name", nullptr);
    std::string xml = ReadFile(File());
    xml.replace(xml.find("<save_file>0</save_file>"), 24, "<save_file>1</save_file>");
    WriteFile(File(), xml);
    TprogramSettings settings;
    settings.Save_file = 5;
    settings.File_name = "before.mp4";
    settings.ReadSettings();
    EXPECT_EQ(settings.File_path, Videos() + "/");  // read before the stop
    EXPECT_EQ(settings.File_name, "before.mp4");     // kept
    EXPECT_EQ(settings.Save_file, 5);                // after it in the reading order: kept
    EXPECT_NE(Log().find("Cannot load settings: "), std::string::npos);

    settings.WriteSettings();
    TprogramSettings again;
    again.ReadSettings();
    EXPECT_EQ(again.File_name, "before.mp4");
    EXPECT_EQ(again.Save_file, 5);
}

TEST_F(SettingsTest, WriteWithoutRequiredElementLeavesFileUnchanged)
{
    WriteSettingsWith("videosource", nullptr);
    std::string before = ReadFile(File());
    TprogramSettings settings;
    settings.ReadSettings();
    settings.VideoIndex = 3;
    settings.WriteSettings();
    EXPECT_EQ(ReadFile(File()), before);
    EXPECT_NE(Log().find("Cannot write  settings: "), std::string::npos);
}

TEST_F(SettingsTest, PasswordIsStoredAsHexAndReadBack)
{
    TprogramSettings settings;
    settings.ReadSettings();
    settings.username = "anna";
    settings.password = "Ab9";
    settings.remember = 1;
    settings.Write_Username_Pass();
    EXPECT_NE(ReadFile(File()).find("<password>416239</password>"), std::string::npos);
    // Latin-1 passwords whose bytes also happen to be UTF-8 ("\u00C4\u00B0" is C4B0), wide,
    // mixed and beyond the basic plane all read back exactly.
    for (const std::string password : {"Ab9", "caf\xC3\xA9 &<x>", "\xC3\x84\xC2\xB0", "\xC3\x85\xC2\xB0", "\xC3\x91\xC2\xA3",
                                       "\xE4\xB8\xAD\xE6\x96\x87", "a\xC3\xA9\xC4\xB0z", "\xF0\x9F\x8E\xA5"}) {
        settings.password = password;
        settings.Write_Username_Pass();
        TprogramSettings again;
        again.ReadSettings();
        EXPECT_EQ(again.password, password);
        EXPECT_EQ(again.username, "anna");
        EXPECT_EQ(again.remember, 1);
    }
    EXPECT_EQ(EncodePasswordHex("\xC3\x84\xC2\xB0"), "C4B0");  // up to U+00FF: two digits each
    EXPECT_EQ(EncodePasswordHex("a\xC4\xB0"), "W00610130");        // wider: a form no hex text has
    std::string decoded = "unchanged";
    EXPECT_FALSE(DecodePasswordHex("41G2", decoded));
    EXPECT_FALSE(DecodePasswordHex("WD800", decoded));  // a lone surrogate
    EXPECT_TRUE(DecodePasswordHex("414", decoded));
    EXPECT_EQ(decoded, "A");
    EXPECT_TRUE(DecodePasswordHex("41Z", decoded));     // an odd last character is ignored
    EXPECT_EQ(decoded, "A");
    WriteSettingsWith("password", "4Z");
    TprogramSettings broken;
    broken.ReadSettings();
    EXPECT_EQ(broken.password, "");
}

TEST_F(SettingsTest, EmptyPathAndNameTakeDefaultsAndUnknownElementsSurvive)
{
    WriteSettingsWith("file_path", "");
    std::string xml = ReadFile(File());
    xml.replace(xml.find("<file_name>sample.mp4</file_name>"), 33, "<file_name></file_name><future>keep me</future>");
    WriteFile(File(), xml);
    TprogramSettings settings;
    settings.ReadSettings();
    EXPECT_EQ(settings.File_path, Videos() + "/");
    EXPECT_EQ(settings.File_name, "sample.mp4");
    settings.File_path.clear();
    settings.WriteSettings();
    EXPECT_EQ(settings.File_path, Videos() + "/");
    EXPECT_NE(ReadFile(File()).find("<future>keep me</future>"), std::string::npos);
}

TEST_F(SettingsTest, UnreadableFileIsNeverReplaced)
{
    WriteFile(File(), "<Veltro><settings><username>x</user");
    TprogramSettings settings;
    settings.Framerate = "kept";
    settings.ReadSettings();
    EXPECT_EQ(settings.Framerate, "kept");
    EXPECT_EQ(ReadFile(File()), "<Veltro><settings><username>x</user");
    EXPECT_NE(Log().find("Cannot load settings: "), std::string::npos);
    settings.WriteSettings();
    EXPECT_EQ(ReadFile(File()), "<Veltro><settings><username>x</user");
}

TEST_F(SettingsTest, LogLinesAreBracketedAndAppended)
{
    TprogramSettings settings;
    settings.Log("first");
    settings.Log("second");
    std::string log = Log();
    ASSERT_EQ(log.front(), '[');
    EXPECT_NE(log.find(" : "), std::string::npos);
    EXPECT_NE(log.find("] first\r\n["), std::string::npos);
    EXPECT_NE(log.find("] second\r\n"), std::string::npos);
}

// glibc's newlocale keeps the search path it builds from LOCPATH, which LeakSanitizer reports
// for the locale test below.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

TEST_F(SettingsTest, LogLinesAreDatedInTheUsersTimeLocale)
{
    // A German time locale compiled into this test's own folder.
    const std::string locales = Root() + "/locales";
    std::filesystem::create_directories(locales);
    if (std::system(("localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "localedef cannot build de_DE here";
    setenv("LOCPATH", locales.c_str(), 1);
    unsetenv("LC_ALL");
    setenv("LC_TIME", "de_DE.UTF-8", 1);
    TprogramSettings().Log("dated");
    unsetenv("LC_TIME");
    unsetenv("LOCPATH");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_match(log, std::regex(R"(\[\d\d\.\d\d\.\d{4} : \d\d:\d\d:\d\d\] dated\r\n)"))) << log;
}

TEST_F(SettingsTest, ConfigFileIsFoundInOrderAndFillsHosts)
{
    EXPECT_EQ(LoadAppConfig().serviceHosts[0], DefaultAppConfig().serviceHosts[0]);
    WriteFile(SettingsFolder() + "veltro.conf", "[account]\nhosts = a.test, b.test:8080 , c\n[web]\nsite=w.test\n");
    AppConfig config = LoadAppConfig();
    EXPECT_EQ(config.serviceHosts[0], "a.test");
    EXPECT_EQ(config.serviceHosts[1], "b.test:8080");
    EXPECT_EQ(config.serviceHosts[2], "c");
    EXPECT_EQ(config.serviceHosts[3], "");
    EXPECT_EQ(config.webSite, "w.test");
    WriteFile(Root() + "/named.conf", "[account]\nhosts=named.test\n");
    setenv("VELTRO_CONF", (Root() + "/named.conf").c_str(), 1);
    config = LoadAppConfig();
    EXPECT_EQ(config.serviceHosts[0], "named.test");
    EXPECT_EQ(config.webSite, DefaultAppConfig().webSite);
}

}  // namespace
