#include "devices/devices.h"
#include "dshow/uuids.h"
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
    session->directAddress = "rtmp://127.0.0.24:1/live/@nobody";
    session->Stream_btnClick();
    EXPECT_EQ(presenter.messages.back(), "Cannot connect to the remote Server");
    EXPECT_EQ(session->state.status, "Idle");
    EXPECT_EQ(session->state.streamFlag, 0);
    EXPECT_FALSE(session->pipeline.rtmpSink);
    EXPECT_FALSE(session->pRtmp);
    EXPECT_EQ(settings->urll, "rtmp://127.0.0.24:1/live/@nobody");
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

}  // namespace
