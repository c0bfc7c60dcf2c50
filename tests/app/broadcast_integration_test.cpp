// veltro-cli against nginx-rtmp and the demo account service, with the virtual devices.
#include <algorithm>
#include <functional>

#include "devices/devices.h"
#include "peers.h"
#include "session/broadcast_session.h"
#include "temp_home.h"

namespace {

class BroadcastTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
        // nginx's worker runs as nobody and writes its recordings below this folder.
        std::filesystem::permissions(Root(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_exec);
        setenv("VELTRO_VIRTUAL_DEVICE_CONTROL", (Root() + "/virtual-devices").c_str(), 1);
        WriteFile(Root() + "/virtual-devices", "camera present\nmicrophone present\n");
        server = std::make_unique<RtmpServer>(Root() + "/nginx");
        account = std::make_unique<AccountService>(Root(), server->Host());
        WriteFile(SettingsFolder() + "veltro.conf", "[account]\nhosts=" + account->Address() + "\n[web]\nsite=x.test\n");
    }
    void TearDown() override
    {
        unsetenv("VELTRO_LOG_GRAPH");
        account.reset();
        server.reset();
        TempHomeTest::TearDown();
    }

    std::unique_ptr<ChildProcess> StartCli(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), std::string(VELTRO_BIN_DIR) + "/veltro-cli");
        return std::make_unique<ChildProcess>(arguments, Out(), Err());
    }
    int RunCli(const std::vector<std::string>& arguments) { return StartCli(arguments)->Wait(); }
    std::string Out() const { return Root() + "/cli.out"; }
    std::string Err() const { return Root() + "/cli.err"; }
    std::string Mp4() const { return Root() + "/show.mp4"; }

    std::vector<std::string> Broadcast(int seconds, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {"broadcast", "--user",    "demo", "--password",
                                              "demo",      "--channel", "0",    "--seconds",
                                              std::to_string(seconds)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    std::unique_ptr<RtmpServer> server;
    std::unique_ptr<AccountService> account;
};

TEST_F(BroadcastTest, ChannelsAreListedAndBadLoginsFail)
{
    ASSERT_EQ(RunCli({"channels", "--user", "demo", "--password", "demo"}), 0) << ReadText(Err());
    std::string out = ReadText(Out());
    EXPECT_NE(out.find("0\tDemo Main\thttp://" + account->Address() + "/channel/Demo-Main\t"), std::string::npos) << out;
    EXPECT_NE(out.find("\trtmp://" + server->Host() + "/live/demo/@main101\n"), std::string::npos) << out;
    EXPECT_NE(out.find("1\tDemo Second\t"), std::string::npos) << out;
    EXPECT_EQ(RunCli({"channels", "--user", "demo", "--password", "wrong"}), 1);
    EXPECT_EQ(ReadText(Err()), "Invalid username or password\n");
    EXPECT_EQ(RunCli({"channels", "--user", "demo@elsewhere.test", "--password", "demo"}), 1);
    EXPECT_EQ(ReadText(Err()), "Invalid Username or Password.\n");
}

TEST_F(BroadcastTest, RecordedBroadcastReachesServerAndFile)
{
    const int seconds = 20;
    setenv("VELTRO_LOG_GRAPH", "1", 1);
    ASSERT_EQ(RunCli(Broadcast(seconds, {"--record", Mp4(), "--graph", "--format", "YUY2", "--size", "640x480",
                                         "--fps", "25.00"})),
              0)
        << ReadText(Err());
    std::string out = ReadText(Out());
    EXPECT_NE(out.find("\t Broadcasting + Local Record\trequired 1152 kbit/s"), std::string::npos) << out;
    // The running topology, printed before the first tick, with the chosen capture format.
    EXPECT_LT(out.find("\"RTMP STREAM\" "), out.find("\t Broadcasting")) << out;
    EXPECT_NE(out.find("-> \"Control fps\" \"Input\" [Video YUY2 VideoInfo 640x480 16bit 25.000fps]"),
              std::string::npos)
        << out;
    ProbeResult file = Probe(Mp4());
    EXPECT_EQ(file.codecs, (std::vector<std::string>{"aac", "h264"}));
    EXPECT_NEAR(file.duration, seconds, 1.0);
    std::vector<std::string> recordings = server->Recordings();
    ASSERT_EQ(recordings.size(), 1u);
    ProbeResult published = Probe(recordings[0]);
    EXPECT_EQ(published.codecs, (std::vector<std::string>{"aac", "h264"}));
    EXPECT_NEAR(published.duration, seconds, 1.0);
    std::string log = ReadText(SettingsFolder() + "log.txt");
    EXPECT_NE(log.find("] Start Broadcast\r\n"), std::string::npos);
    EXPECT_NE(log.find("] Pipeline topology:\r\n"), std::string::npos);
    EXPECT_NE(log.find("] \"File Writer\" "), std::string::npos) << log;
    EXPECT_NE(log.find("] Stop Broadasct\r\n"), std::string::npos);
}

TEST_F(BroadcastTest, AudioOnlyAndVideoOnlyBroadcasts)
{
    ASSERT_EQ(RunCli(Broadcast(6, {"--video-device", "none", "--record", Mp4()})), 0) << ReadText(Err());
    EXPECT_EQ(Probe(Mp4()).codecs, std::vector<std::string>{"aac"});
    ASSERT_EQ(server->Recordings().size(), 1u);
    EXPECT_EQ(Probe(server->Recordings()[0]).codecs, std::vector<std::string>{"aac"});

    std::filesystem::remove(Mp4());
    std::filesystem::remove(server->Recordings()[0]);
    ASSERT_EQ(RunCli(Broadcast(6, {"--audio-device", "none", "--record", Mp4()})), 0) << ReadText(Err());
    EXPECT_EQ(Probe(Mp4()).codecs, std::vector<std::string>{"h264"});  // the generated silence goes to the server only
    ASSERT_EQ(server->Recordings().size(), 1u);
    EXPECT_EQ(Probe(server->Recordings()[0]).codecs, (std::vector<std::string>{"aac", "h264"}));
}

TEST_F(BroadcastTest, ReconnectsAfterTheServerRestartsWhileTheFileGoesOn)
{
    const int seconds = 24;
    auto cli = StartCli(Broadcast(seconds, {"--record", Mp4()}));
    ASSERT_TRUE(WaitFor([&] { return ReadText(Out()).find("\t Broadcasting + Local Record\t") != std::string::npos; },
                        20));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    server->Stop();
    ASSERT_TRUE(WaitFor([&] { return ReadText(Out()).find("\tDisconnected.  Trying to reconnect...\t") != std::string::npos; },
                        10));
    server->Start();
    ASSERT_EQ(cli->Wait(), 0) << ReadText(Err());
    std::string out = ReadText(Out());
    size_t lost = out.find("Disconnected.  Trying to reconnect...");
    EXPECT_NE(out.find("\t Broadcasting + Local Record\t", lost), std::string::npos) << out;
    std::vector<std::string> recordings = server->Recordings();
    ASSERT_EQ(recordings.size(), 2u);
    ProbeResult after = Probe(recordings[1]);
    EXPECT_EQ(after.codecs, (std::vector<std::string>{"aac", "h264"}));
    EXPECT_GT(after.duration, 3.0);
    ProbeResult file = Probe(Mp4());
    EXPECT_NEAR(file.duration, seconds, 1.0);
    EXPECT_LT(LargestVideoGap(Mp4()), 0.5);
}

TEST_F(BroadcastTest, RemovingTheCameraEndsTheBroadcast)
{
    auto cli = StartCli(Broadcast(30, {"--record", Mp4()}));
    ASSERT_TRUE(WaitFor([&] { return ReadText(Out()).find("\t Broadcasting + Local Record\t") != std::string::npos; },
                        20));
    WriteFile(Root() + "/virtual-devices", "camera removed\nmicrophone present\n");
    EXPECT_EQ(cli->Wait(), 3);
    std::string err = ReadText(Err());
    EXPECT_NE(err.find("A problem occurred during Capturing Audio or Video Data.\n"
                       "The process has been stopped due to Audio or Video capture device removal.\n\n        "
                       "Please attach the capture device and start the process again.\n"),
              std::string::npos)
        << err;
    std::string log = ReadText(SettingsFolder() + "log.txt");
    EXPECT_NE(log.find("] Video Source Removed\r\n"), std::string::npos);
    EXPECT_NE(Probe(Mp4()).codecs.size(), 0u);
}

TEST_F(BroadcastTest, FailedBuildDuringStartEndsInPreviewWithTheDeviceMarked)
{
    // The program's filters without the H.264 encoder.
    const std::string appPath = Root() + "/app/";
    std::filesystem::create_directories(appPath + "filters");
    for (const auto& entry : std::filesystem::directory_iterator(std::string(VELTRO_BIN_DIR) + "/filters"))
        if (entry.path().filename() != "mmx264.ax")
            std::filesystem::create_symlink(entry.path(), appPath + "filters/" + entry.path().filename().string());
    RecordingPresenter presenter;
    TprogramSettings settings(&presenter);
    settings.ReadSettings();
    BroadcastSession session(settings, appPath);
    session.LoadSettingsIntoControls();
    session.SwitchAudioOn();
    session.SwitchVideoOn();
    session.directAddress = "rtmp://" + server->Host() + "/live/demo/@failed";
    session.Stream_btnClick();
    EXPECT_EQ(session.state.streamFlag, 0);
    EXPECT_FALSE(session.state.isStreaming);
    EXPECT_TRUE(session.state.isDeviceProblem);
    EXPECT_FALSE(session.pRtmp);
    EXPECT_FALSE(session.pipeline.rtmpSink);
    ComPtr<IBaseFilter> renderer;
    EXPECT_TRUE(SUCCEEDED(session.pipeline.Graph()->FindFilterByName(u"RENDERER 1 ", renderer.Put())));
    std::string log = ReadText(SettingsFolder() + "log.txt");
    EXPECT_NE(log.find("] Error Adding  x264 Encoder\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Stop Broadasct\r\n"), std::string::npos) << log;
    EXPECT_NE(ReadText(SettingsFolder() + "rtmp.log").find("CFLVMux::Disconnect: OK"), std::string::npos);
}

TEST_F(BroadcastTest, UncreatableRecordingFileFailsTheStartAndAStuckStopKeepsTheControlsLocked)
{
    RecordingPresenter presenter;
    TprogramSettings settings(&presenter);
    settings.ReadSettings();
    BroadcastSession session(settings, std::string(VELTRO_BIN_DIR) + "/");
    session.LoadSettingsIntoControls();
    session.SwitchAudioOn();
    session.SwitchVideoOn();
    session.directAddress = "rtmp://" + server->Host() + "/live/demo/@file";
    session.RecordingOn();
    session.file_path_editChange("/proc/show.mp4");  // an existing folder where no file can be created
    session.Stream_btnClick();
    EXPECT_EQ(session.state.streamFlag, 0);
    EXPECT_FALSE(session.state.isStreaming);
    EXPECT_EQ(session.state.status, "Application Error");
    EXPECT_FALSE(session.state.isDeviceProblem);  // the camera is not to blame
    std::string log = ReadText(SettingsFolder() + "log.txt");
    EXPECT_NE(log.find("] Cannot create recording file /proc/show.mp4: "), std::string::npos) << log;
    ComPtr<IBaseFilter> renderer;
    EXPECT_TRUE(SUCCEEDED(session.pipeline.Graph()->FindFilterByName(u"RENDERER 1 ", renderer.Put())));

    // The next start is not refused; a stop whose preview cannot restart leaves the encoder
    // tab covered and the capture controls disabled.
    session.RecordingOff();
    session.Stream_btnClick();
    ASSERT_TRUE(session.state.isStreaming);
    EXPECT_FALSE(session.EncoderTabEnabled());
    SetVirtualDevicePresent(VirtualDevice::Camera, false);
    session.StopBroadcast();
    SetVirtualDevicePresent(VirtualDevice::Camera, true);
    log = ReadText(SettingsFolder() + "log.txt");
    EXPECT_NE(log.find("] Stop Broadcast problem,begin_preview4 -  cannot start\r\n"), std::string::npos) << log;
    EXPECT_EQ(session.state.streamFlag, 0);
    EXPECT_EQ(session.state.front, FrontButton::Stream);
    EXPECT_EQ(session.state.status, "Application Error");
    EXPECT_FALSE(session.EncoderTabEnabled());
    EXPECT_FALSE(session.state.sourceSwitchesEnabled);
    EXPECT_FALSE(session.state.videoControlsEnabled || session.state.audioControlsEnabled);
    EXPECT_FALSE(session.state.captureFormatListsEnabled);
    EXPECT_FALSE(session.state.Timer1);
}

}  // namespace
