#include <algorithm>

#include "devices/devices.h"
#include "dshow/filtergraph.h"
#include "dshow/uuids.h"
#include "peers.h"
#include "pipeline/capture_devices.h"
#include "session/broadcast_session.h"
#include "temp_home.h"

namespace {

class SessionTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
        settings = std::make_unique<TprogramSettings>(&presenter);
        settings->ReadSettings();
        session = std::make_unique<BroadcastSession>(*settings, std::string(VELTRO_BIN_DIR) + "/");
        session->LoadSettingsIntoControls();
    }
    void TearDown() override
    {
        session.reset();
        TempHomeTest::TearDown();
    }
    std::string Log() const { return ReadFile(SettingsFolder() + "log.txt"); }
    std::string Topology() const { return DescribeGraph(session->pipeline.Graph()); }
    int Position(const std::vector<std::string>& items, const std::string& text) const
    {
        return int(std::find(items.begin(), items.end(), text) - items.begin());
    }
    static int RegistryValue(const char* name)
    {
        TVideo_Encoder encoder;
        encoder.Registry_Read();
        if (std::string(name) == "KeyIntMin") return encoder.KeyIntMin;
        return encoder.KeyIntMax;
    }

    RecordingPresenter presenter;
    std::unique_ptr<TprogramSettings> settings;
    std::unique_ptr<BroadcastSession> session;
};

TEST_F(SessionTest, StartChecksRefuseInOrderWithoutTouchingThePipeline)
{
    settings->VideoSource = settings->AudioSource = 0;
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Please select Video or Audio Sources");

    settings->VideoSource = 1;
    session->state.videoBitrateText = "0";
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Please enter a valid Bitrate value");

    session->state.videoBitrateText = "1024";
    settings->Output_resize = 1;
    session->state.resizeWidthText = "1921";
    session->state.resizeHeightText = "1080";
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Please provide Output video size in range 80 x 60 to 1920 x 1080");

    session->state.resizeWidthText = "1920";
    session->state.isDeviceProblem = true;
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Please check your Video Device. Maybe is already in use or not working");
    EXPECT_EQ(session->state.status, "Application Error");

    // Audio only: neither the bit rate nor the device problem is looked at; no channel refuses.
    settings->VideoSource = 0;
    settings->AudioSource = 1;
    session->state.videoBitrateText = "0";
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Please select a channel");
    EXPECT_EQ(session->state.streamFlag, 0);
    EXPECT_FALSE(session->pipeline.HasGraph());
}

TEST_F(SessionTest, RefusedConnectionLeavesTheSessionIdle)
{
    settings->VideoSource = 0;
    settings->AudioSource = 1;
    PortReservation closedPort;  // bound, never listening: the connection is refused
    const std::string address = "rtmp://127.0.0.1:" + std::to_string(closedPort.Port()) + "/live/@nobody";
    session->directAddress = address;
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Cannot connect to the remote Server");
    EXPECT_EQ(session->state.status, "Idle");
    EXPECT_EQ(session->state.streamFlag, 0);
    EXPECT_FALSE(session->pipeline.rtmpSink);
    EXPECT_FALSE(session->pRtmp);
    EXPECT_EQ(settings->urll, address);
    std::string sinkLog = ReadFile(SettingsFolder() + "rtmp.log");
    EXPECT_NE(sinkLog.find("CFLVMux::Connect: Connection Error"), std::string::npos) << sinkLog;
}

TEST_F(SessionTest, OnlyTheChosenDeviceGoingAwayEndsTheSession)
{
    session->state.videoOn = true;
    settings->VideoSource = 1;
    session->choices.videoDevices = CaptureDeviceNames(CLSID_VideoInputDeviceCategory);
    session->choices.videoDevices.push_back("Pulled Camera");
    session->choices.videoDevicePosition = 0;
    session->CheckCaptureDevices();
    EXPECT_FALSE(session->state.isDeviceProblem);
    EXPECT_TRUE(presenter.messages.empty());
    EXPECT_TRUE(session->state.videoOn);

    session->choices.videoDevicePosition = int(session->choices.videoDevices.size()) - 1;
    session->state.streamFlag = 1;
    session->state.Check_Stream = session->state.Connect_Timer = true;
    session->CheckCaptureDevices();
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_EQ(presenter.messages[0],
              "A problem occurred during Capturing Audio or Video Data.|The process has been stopped due to Audio or "
              "Video capture device removal.\r\r        Please attach the capture device and start the process again.");
    EXPECT_FALSE(session->state.videoOn);
    EXPECT_EQ(settings->VideoSource, 0);
    EXPECT_EQ(session->state.streamFlag, 0);
    EXPECT_FALSE(session->state.Check_Stream || session->state.Connect_Timer);
    EXPECT_FALSE(session->state.isDeviceProblem);  // cleared by switching the sources off
    EXPECT_NE(Log().find("] Video Source Removed\r\n"), std::string::npos);

    // A removal while a device problem is pending is ignored.
    session->state.isDeviceProblem = true;
    session->OnWindowMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(presenter.messages.size(), 1u);
}

TEST_F(SessionTest, SentBytesFeedTheOutgoingCounter)
{
    session->OnWindowMessage(WM_RTMP_SENT, 60000, -1);  // a failed send counts too
    session->OnWindowMessage(WM_RTMP_SENT, 4000, 4000);
    session->Connec_TimerTimer();
    EXPECT_EQ(session->state.actualCounter, "500");
    EXPECT_EQ(session->state.clock, "00:00:00");
}

TEST_F(SessionTest, CaptureChoicesRefreshSizesFieldsAndStatusAndRebuild)
{
    session->SwitchVideoOn();
    ASSERT_TRUE(session->state.videoOn);
    session->state.resizeWidthText = "77";  // a stale field
    session->state.isDeviceProblem = true;
    session->state.status = "Application Error";
    session->ColorFormatChange(Position(session->choices.formats, "YUY2"));
    EXPECT_EQ(settings->VideoFormat, "YUY2");
    EXPECT_EQ(session->choices.sizeSelection, 0);
    EXPECT_EQ(settings->VideosizeIndex, 0);
    EXPECT_EQ(session->state.status, "Idle");
    EXPECT_FALSE(session->state.isDeviceProblem);
    EXPECT_EQ(settings->Video_width, 320);
    EXPECT_EQ(session->state.resizeWidthText, "320");  // resizing is off: the fields follow
    EXPECT_EQ(session->state.resizeHeightText, "240");
    EXPECT_NE(Topology().find("Video YUY2 VideoInfo 320x240"), std::string::npos) << Topology();

    session->VideoSizeChange(int(session->choices.Video_Input_Sizes.size()) - 1);
    session->FramerateChange("25.00");
    EXPECT_EQ(settings->VideosizeIndex, int(session->choices.Video_Input_Sizes.size()) - 1);
    EXPECT_EQ(session->state.resizeWidthText, "1920");
    EXPECT_NE(Topology().find("1920x1080 16bit 25.000fps"), std::string::npos) << Topology();
    EXPECT_EQ(RegistryValue("KeyIntMin"), 25);  // keyframe interval 3 s at 25 frames per second
    EXPECT_EQ(RegistryValue("KeyIntMax"), 75);
}

TEST_F(SessionTest, OutputSizeFieldsKeepTheCaptureAspectAndFallBackToTheCaptureSize)
{
    settings->Video_width = 1920;
    settings->Video_height = 1080;
    session->ResizeOutputOn();
    session->resize_widthChange("01000x");
    EXPECT_EQ(session->state.resizeWidthText, "1000");
    EXPECT_EQ(session->state.resizeHeightText, "562");  // 562.5, halves to even
    EXPECT_EQ(settings->Resize_height, 562);
    session->resize_heightChange("");
    EXPECT_EQ(session->state.resizeHeightText, "0");
    EXPECT_EQ(session->state.resizeWidthText, "1000");  // a height change leaves the width
    session->resize_widthChange("99999999999");           // far too wide: refused at start, no overflow
    EXPECT_EQ(settings->Resize_width, 1000000);
    session->resize_widthChange("0");
    session->ResizeOutputOff();
    EXPECT_EQ(settings->Output_resize, 0);
    EXPECT_EQ(session->state.resizeWidthText, "1920");
    EXPECT_EQ(session->state.resizeHeightText, "1080");
    EXPECT_EQ(settings->Resize_width, 1920);
    session->Resize_Output_lblClick();  // video is off: the text does nothing
    EXPECT_EQ(settings->Output_resize, 0);
}

TEST_F(SessionTest, DeviceSettingsShowThePagesOnAStoppedGraphAndRebuild)
{
    session->SwitchVideoOn();
    std::vector<int> waits;  // the host's wait keeps its window painting
    session->wait = [&](int milliseconds) { waits.push_back(milliseconds); };
    session->DeviceSettingsClick();  // no host to show pages
    EXPECT_NE(Log().find("] Cannot display property page\r\n"), std::string::npos);
    EXPECT_EQ(waits, std::vector<int>{200});  // before the rebuilt graph runs

    std::vector<GUID> shown;
    OAFilterState during = State_Running;
    session->showPropertyPages = [&](IBaseFilter* filter, const CAUUID& pages) {
        shown.assign(pages.pElems, pages.pElems + pages.cElems);
        filter->GetState(0, reinterpret_cast<FILTER_STATE*>(&during));
    };
    session->DeviceSettingsClick();
    EXPECT_EQ(shown, std::vector<GUID>{CLSID_DeviceControlsPage});
    EXPECT_EQ(during, State_Stopped);
    OAFilterState after = State_Stopped;
    ComPtr<IMediaControl> control = ComPtr<IGraphBuilder>(session->pipeline.Graph()).As<IMediaControl>();
    control->GetState(1000, &after);
    EXPECT_EQ(after, State_Running);
}

TEST_F(SessionTest, VolumeSliderMapsTheThumbToLevelTextAndMute)
{
    EXPECT_EQ(session->state.volumeText, "50%");
    EXPECT_TRUE(session->Volume_bar_imgMouseMove(14));
    EXPECT_EQ(session->state.volumeText, "100%");
    EXPECT_TRUE(session->Volume_bar_imgMouseMove(152));
    EXPECT_EQ(session->state.volumeText, "1%");
    EXPECT_FALSE(session->state.muted);
    EXPECT_TRUE(session->Volume_bar_imgMouseMove(153));
    EXPECT_EQ(session->state.volumeText, "0%");
    EXPECT_TRUE(session->state.muted);
    EXPECT_FALSE(session->Volume_bar_imgMouseMove(155));  // beyond the track: the thumb stays
    EXPECT_EQ(session->state.volumeThumbTop, 153);
    EXPECT_TRUE(session->Volume_bar_imgMouseMove(84));
    EXPECT_EQ(session->state.volumeText, "50%");
    EXPECT_FALSE(session->state.muted);
}

}  // namespace
