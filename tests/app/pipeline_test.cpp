#include <filesystem>

#include "session/broadcast_session.h"
#include "temp_home.h"

namespace {

// A session whose filters folder is a copy of the build's, minus or plus what a test changes.
class PipelineTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
        appPath = Root() + "/app/";
        std::filesystem::create_directories(appPath + "filters");
        for (const auto& entry : std::filesystem::directory_iterator(std::string(VELTRO_BIN_DIR) + "/filters"))
            std::filesystem::create_symlink(entry.path(), appPath + "filters/" + entry.path().filename().string());
        settings = std::make_unique<TprogramSettings>(&presenter);
        settings->ReadSettings();
    }
    void TearDown() override
    {
        session.reset();
        TempHomeTest::TearDown();
    }
    void StartSession()
    {
        session = std::make_unique<BroadcastSession>(*settings, appPath);
        session->LoadSettingsIntoControls();
    }
    bool InGraph(const char16_t* name) const
    {
        ComPtr<IBaseFilter> filter;
        return session->pipeline.Graph() &&
               SUCCEEDED(session->pipeline.Graph()->FindFilterByName(name, filter.Put())) && filter;
    }
    std::string Log() const { return ReadFile(SettingsFolder() + "log.txt"); }

    std::string appPath;
    RecordingPresenter presenter;
    std::unique_ptr<TprogramSettings> settings;
    std::unique_ptr<BroadcastSession> session;
};

TEST_F(PipelineTest, PreviewHoldsOnlyCaptureLimiterTeesRendererAndMeters)
{
    StartSession();
    session->SwitchAudioOn();
    session->SwitchVideoOn();
    ASSERT_TRUE(session->pipeline.HasGraph()) << Log();
    for (const char16_t* name : {u"Control fps", u"Inf Tee 1", u"RENDERER 1 ", u"Audio Volume Control", u"Inf Tee 3",
                                 u"STEREO SPLITTER", u"VOLUME METTER LEFT", u"VOLUME METTER RIGHT",
                                 u"AUDIO NULL RENDERER 1", u"AUDIO NULL RENDERER 2"})
        EXPECT_TRUE(InGraph(name)) << Utf8FromUtf16(name);
    for (const char16_t* name : {u"Resizer", u"x264 Encoder", u"AAC Encoder", u"RTMP STREAM", u"MP4 Muxer",
                                 u"File Writer", u"Inf Tee 2", u"Inf Tee 4", u"KeshAudioGenerator"})
        EXPECT_FALSE(InGraph(name)) << Utf8FromUtf16(name);
    EXPECT_EQ(session->pipeline.requestBytesCount, 1152);
    EXPECT_EQ(session->state.requiredCounter, "1152");
    // The default 320 x 240 capture fills the preview's height.
    EXPECT_EQ(session->pipeline.preview.width, 240);
    EXPECT_EQ(session->pipeline.preview.left, 40);
    EXPECT_TRUE(presenter.messages.empty());
}

TEST_F(PipelineTest, MissingTeeLibraryFailsTheAudioBranchFirst)
{
    std::filesystem::remove(appPath + "filters/KeshInfTee.ax");
    StartSession();
    session->SwitchAudioOn();
    session->SwitchVideoOn();
    EXPECT_EQ(session->state.status, "Application Error");
    std::string log = Log();
    EXPECT_NE(log.find("] Error Adding   preview 3\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Error Adding preview tee 1"), std::string::npos) << log;

    settings->AudioSource = 0;
    session->SwitchAudioOff();  // video alone now fails at its own tee
    EXPECT_NE(Log().find("] Error Adding preview tee 1\r\n"), std::string::npos);
    EXPECT_FALSE(session->state.isOnprogress);
}

TEST_F(PipelineTest, LibraryWithoutTheClassEndsTheBuildWithoutStayingInProgress)
{
    std::filesystem::remove(appPath + "filters/KeshInfTee.ax");
    std::filesystem::create_symlink(std::string(VELTRO_BIN_DIR) + "/filters/KeshAudiovolume.ax",
                                    appPath + "filters/KeshInfTee.ax");
    StartSession();
    session->SwitchAudioOn();
    ASSERT_FALSE(presenter.messages.empty());
    EXPECT_EQ(presenter.messages.back(), "Error: Failed to add filter: " + appPath + "filters/KeshInfTee.ax");
    EXPECT_EQ(session->state.status, "Application Error");
    EXPECT_FALSE(session->state.isOnprogress);
}

}  // namespace
