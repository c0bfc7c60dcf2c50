#include "broadcast_session.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "../pipeline/bitrate_lists.h"
#include "../pipeline/filter_loader.h"
#include "../pipeline/format_lists.h"
#include "../pipeline/level_meter.h"
#include "../pipeline/recording_file.h"
#include "devices/devices.h"
#include "dshow/filtergraph.h"
#include "dshow/uuids.h"

namespace {

const int kMeterSegments = MeterSegments(180);

}  // namespace

BroadcastSession::BroadcastSession(TprogramSettings& settings, std::string appPath)
    : settings(settings), APP_PATH(appPath), pipeline(settings, state, choices, appPath)
{
}

BroadcastSession::~BroadcastSession() { ShutdownCleanup(false); }

void BroadcastSession::Wait(int milliseconds)
{
    if (wait)
        wait(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void BroadcastSession::LoadSettingsIntoControls()
{
    if (settings.Framerate.empty()) settings.Framerate = "30.00";
    // After writing the defaults the lists show them, as the encoders will use them.
    if (!Video_Encoder.Registry_Read()) {
        Video_Encoder.Resolve_Verror_settings();
        Video_Encoder.Registry_Read();
    }
    state.videoBitrateText = VideoBitrateText(Video_Encoder.Bitrate);
    if (!Audio_Encoder.Get_Bitrate()) Audio_Encoder.Resolve_Aerror_settings();
    state.audioBitrateText = AudioBitrateText(Audio_Encoder.Bitrate);
    state.resizeWidthText = std::to_string(settings.Resize_width);
    state.resizeHeightText = std::to_string(settings.Resize_height);
    state.file_path_edit = settings.File_path + settings.File_name;
}

void BroadcastSession::SwitchVideoOn() { SwitchSourceOn(Source::Video); }
void BroadcastSession::SwitchVideoOff() { SwitchSourceOff(Source::Video); }
void BroadcastSession::SwitchAudioOn() { SwitchSourceOn(Source::Audio); }
void BroadcastSession::SwitchAudioOff() { SwitchSourceOff(Source::Audio); }

void BroadcastSession::SwitchSourceOn(Source source)
{
    const bool video = source == Source::Video;
    state.isDeviceProblem = false;
    (video ? settings.VideoSource : settings.AudioSource) = 1;
    (video ? state.videoOn : state.audioOn) = true;
    if (!(video ? choices.ListVideoDevices() : choices.ListAudioDevices())) {
        settings.Create_message_popup(video ? "No Video Source is detected" : "No Audio Source is detected", "");
        SwitchSourceOff(source);
        return;
    }
    (video ? state.videoControlsEnabled : state.audioControlsEnabled) = true;
    settings.Log(video ? "Video Source Added " : "Audio Source Added ");
    const int stored = video ? settings.VideoIndex : settings.AudioIndex;
    const size_t count = (video ? choices.videoDevices : choices.audioDevices).size();
    const int position = stored >= 0 && size_t(stored) < count ? stored : 0;
    if (video) {
        ChooseVideoDevice(position);
    } else {
        state.Timer1 = true;
        ChooseAudioDevice(position);
    }
}

void BroadcastSession::SwitchSourceOff(Source source)
{
    const bool video = source == Source::Video;
    state.status = "Idle";
    state.statusRed = false;
    (video ? settings.VideoSource : settings.AudioSource) = 0;
    (video ? state.videoOn : state.audioOn) = false;
    if (video) {
        choices.DropVideo();
    } else {
        state.Timer1 = false;
        state.leftLevel = state.rightLevel = 0;
        choices.DropAudio();
    }
    (video ? state.videoControlsEnabled : state.audioControlsEnabled) = false;
    state.isDeviceProblem = false;
    settings.Log(video ? "Video Source Removed" : "Audio Source Removed");
    if (video ? state.audioOn : state.videoOn) {
        RebuildAndRunGraph();
    } else {
        state.requiredCounter = "---";
        pipeline.StopAndClearGraph();
    }
}

void BroadcastSession::ChooseVideoDevice(int position)
{
    choices.videoDevicePosition = position;
    settings.VideoIndex = position;
    choices.vsource_changed = true;
    state.status = "Idle";
    state.isDeviceProblem = false;
    RebuildAndRunGraph();
}

void BroadcastSession::ChooseAudioDevice(int position)
{
    choices.audioDevicePosition = position;
    settings.AudioIndex = position;
    choices.asource_changed = true;
    RebuildAndRunGraph();
}

std::string BroadcastSession::PublishingAddress() const
{
    if (!authentication) return directAddress;
    return channelPosition < 0 ? "" : StreamAddress(*authentication, size_t(channelPosition));
}

void BroadcastSession::Stream_btnClick()
{
    if (state.isOnprogress || state.streamFlag == 1) return;
    if (settings.VideoSource == 0 && settings.AudioSource == 0) {
        settings.Create_message_popup("Please select Video or Audio Sources", "");
        state.streamFlag = 0;
        return;
    }
    if (settings.VideoSource == 1) {
        if (state.videoBitrateText == "0") {
            settings.Create_message_popup("Please enter a valid Bitrate value", "");
            state.streamFlag = 0;
            return;
        }
        if (settings.Output_resize == 1) {
            std::string problem = CheckOutputSize(state.resizeWidthText, state.resizeHeightText);
            if (!problem.empty()) {
                settings.Create_message_popup(problem, "");
                state.streamFlag = 0;
                return;
            }
        }
        if (state.isDeviceProblem) {
            settings.Create_message_popup("Please check your Video Device. Maybe is already in use or not working", "");
            state.status = "Application Error";
            state.streamFlag = 0;
            return;
        }
    }
    if (settings.Save_file == 1 && !ValidateRecordingFile(state.file_path_edit, settings, state.streamFlag)) return;
    // The address needs a channel of the account; without one the start is refused.
    const std::string address = PublishingAddress();
    if (address.empty()) {
        settings.Create_message_popup("Please select a channel", "");
        state.streamFlag = 0;
        return;
    }

    state.busyCursor = true;
    state.streamFlag = 1;
    state.status = "Connecting...";
    try {
        LoadFilterFromLibrary(FilterLibraryPath(APP_PATH, "KeshRTMPSink.ax"), CLSID_KeshRTMPSink, pipeline.rtmpSink);
    } catch (const FilterLoadError& error) {
        settings.Create_message_popup(error.what(), "");
    }
    pRtmp = pipeline.rtmpSink.As<INetworkConnection>();
    if (!pRtmp) {
        settings.Log("Streaming interface is not defined.");
    } else {
        settings.urll = address;
        pRtmp->SetLogFolder(settings.Get_XML_FolderPath().c_str());
        pRtmp->SetConnectionString(settings.urll.c_str());
        pRtmp->SetNotifyWindow(notifyWindow);
        if (pRtmp->Connect() != 0) {
            settings.Create_message_popup("Cannot connect to the remote Server", "");
            ReleaseSink();
            state.streamFlag = 0;
            state.busyCursor = false;
            state.status = "Idle";
            return;
        }
    }
    state.sourceSwitchesEnabled = false;
    if (!RebuildAndRunGraph()) {
        state.streamFlag = 0;
        return;
    }
    state.isStreaming = true;
    state.channelEnabled = false;
    state.Connect_Timer = true;
    state.Check_Stream = true;
    ShowOnAirStatus();
    state.countersVisible = true;
    state.front = FrontButton::StopStream;
    state.saveFileEnabled = false;
    state.videoControlsEnabled = false;
    state.encoderTabCovered = true;
    state.audioControlsEnabled = false;
    settings.Log("Start Broadcast");
}

void BroadcastSession::ShowOnAirStatus()
{
    state.status = settings.Save_file == 1 ? " Broadcasting + Local Record" : " Broadcasting";
    state.statusRed = false;
}

void BroadcastSession::ReleaseSink()
{
    pRtmp.Reset();
    pipeline.rtmpSink.Reset();
}

bool BroadcastSession::RebuildAndRunGraph()
{
    state.isOnprogress = true;
    state.busyCursor = true;
    state.captureFormatListsEnabled = false;
    bool built = false;
    try {
        pipeline.StopAndClearGraph();
        built = pipeline.CreateGraphWithSources() && pipeline.BuildPipeline();
    } catch (const FilterLoadError& error) {
        // A library that yields no filter ends this build; nothing stays marked in progress.
        settings.Create_message_popup(error.what(), "");
        built = false;
    }
    if (!built) {
        state.status = "Application Error";
        state.isOnprogress = false;
        if (state.streamFlag == 1) {
            // A file that cannot be created is no fault of the camera.
            const bool deviceProblem = !pipeline.recordingFileFailed;
            StopBroadcast();
            // The preview the stop rebuilt says "Idle"; the failed start stays visible.
            state.status = "Application Error";
            if (deviceProblem) state.isDeviceProblem = true;
        }
        state.busyCursor = false;
        return false;
    }
    std::string error;
    if (!pipeline.RunGraph(error, [this](int milliseconds) { Wait(milliseconds); })) {
        if (error.find("Insufficient system resources exist to complete the requested service.") != std::string::npos ||
            error.find("A device attached to the system is not functioning.") != std::string::npos)
            settings.Create_message_popup("Please check your Video Device. Maybe is already in use or not working", "");
        state.isDeviceProblem = true;
        state.status = "Application Error";
        settings.Log("Playing Filter error" + error);
    }
    LogGraphWhenAsked();
    state.captureFormatListsEnabled = true;
    state.isOnprogress = false;
    state.busyCursor = false;
    return true;
}

void BroadcastSession::LogGraphWhenAsked()
{
    const char* wanted = std::getenv("VELTRO_LOG_GRAPH");
    if (!wanted || std::string(wanted) != "1") return;
    std::istringstream lines(DescribeGraph(pipeline.Graph()));
    settings.Log("Pipeline topology:");
    for (std::string line; std::getline(lines, line);) settings.Log(line);
}

void BroadcastSession::StopBroadcast()
{
    if (processMessages) processMessages();
    sessionClock.Reset();
    state.days = 0;
    state.daysVisible = false;
    if (state.isOnprogress || state.streamFlag == 0) return;
    if (pRtmp) pRtmp->Disconnect();
    ReleaseSink();
    state.front = FrontButton::Stream;
    state.status = "Idle";
    state.statusRed = false;
    state.clock = "00:00:00";
    state.streamFlag = 0;
    state.isStreaming = false;
    state.Connect_Timer = state.Check_Stream = state.Timer1 = false;
    if (!RebuildAndRunGraph()) {
        settings.Log("Stop Broadcast problem,begin_preview4 -  cannot start");
        return;
    }
    state.Timer1 = state.audioOn;
    state.sourceSwitchesEnabled = true;
    state.encoderTabCovered = false;
    state.channelEnabled = true;
    state.saveFileEnabled = true;
    state.actualCounter = "---";
    state.videoControlsEnabled = settings.VideoSource == 1;
    state.audioControlsEnabled = settings.AudioSource == 1;
    settings.Log("Stop Broadasct");
}

void BroadcastSession::Stop_Reconnect_btnClick()
{
    StopBroadcast();
    settings.Log("Stop Reconnect");
}

void BroadcastSession::Timer1Timer()
{
    state.leftLevel = MeterLevel(pipeline.Audio_Left_Grabber->Peak(), kMeterSegments);
    state.rightLevel = MeterLevel(pipeline.Audio_Right_Grabber->Peak(), kMeterSegments);
}

void BroadcastSession::Connec_TimerTimer()
{
    int64_t position = 0;
    bool active = pipeline.HasGraph() && pipeline.GetStreamPosition(position);
    sessionClock.Tick(active ? &position : nullptr);
    state.clock = sessionClock.clockText;
    state.days = sessionClock.days;
    state.daysVisible = sessionClock.daysVisible;
    state.actualCounter = outgoing.TakeKbpsText();
}

void BroadcastSession::Check_StreamTimer()
{
    pRtmp = pipeline.rtmpSink.As<INetworkConnection>();
    if (!pRtmp) return;
    uint8_t connected = 0;
    HRESULT status = pRtmp->GetConnectionState(&connected);
    // A failed query counts as a lost connection.
    if (FAILED(status)) {
        settings.Log("Cannot Check the state " + StatusText(status));
        connected = 0;
    }
    if (connected == 1) {
        state.busyCursor = false;
        state.front = FrontButton::StopStream;
        ShowOnAirStatus();
        return;
    }
    state.busyCursor = true;
    state.front = FrontButton::StopReconnect;
    state.status = "Disconnected.  Trying to reconnect...";
    state.statusRed = true;
    pRtmp->Disconnect();
    Wait(1000);
    if (pRtmp->Connect() == 0) pRtmp->StartStream();
}

void BroadcastSession::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_RTMP_SENT) {
        outgoing.OnSent(wParam);
    } else if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEREMOVECOMPLETE) {
        if (state.isDeviceProblem) return;
        Wait(100);
        CheckCaptureDevices();
    }
}

void BroadcastSession::CheckCaptureDevices()
{
    auto check = [this](REFCLSID category, const std::vector<std::string>& listed, int selected) {
        std::vector<std::string> found = CaptureDeviceNames(category);
        if (found.size() >= listed.size()) return;
        for (const std::string& entry : listed) {
            bool present = std::any_of(found.begin(), found.end(), [&](const std::string& name) {
                return strcasecmp(name.c_str(), entry.c_str()) == 0;
            });
            if (!present && selected >= 0 && selected < int(listed.size()) && entry == listed[selected])
                state.isDeviceProblem = true;
        }
    };
    if (state.audioOn) check(CLSID_AudioInputDeviceCategory, choices.audioDevices, choices.audioDevicePosition);
    if (state.videoOn) check(CLSID_VideoInputDeviceCategory, choices.videoDevices, choices.videoDevicePosition);
    if (state.isDeviceProblem) HandleCaptureDeviceLoss();
}

void BroadcastSession::HandleCaptureDeviceLoss()
{
    state.Timer1 = state.Connect_Timer = state.Check_Stream = false;
    state.videoOn = false;
    settings.VideoSource = 0;
    settings.VideoIndex = 0;
    state.audioOn = false;
    settings.AudioSource = 0;
    settings.AudioIndex = 0;
    if (state.streamFlag == 1 && pRtmp) pRtmp->Disconnect();
    settings.Create_message_popup("A problem occurred during Capturing Audio or Video Data.",
                                  "The process has been stopped due to Audio or Video capture device removal.\r\r" +
                                      std::string(8, ' ') +
                                      "Please attach the capture device and start the process again.");
    SwitchVideoOff();
    SwitchAudioOff();
    state.sourceSwitchesEnabled = true;
    if (state.streamFlag == 1) {
        state.streamFlag = 0;
        state.isStreaming = false;
        state.countersVisible = false;
        state.channelEnabled = true;
        state.clock = "00:00:00";
        state.front = FrontButton::Stream;
        ReleaseSink();
    }
}

void BroadcastSession::ShutdownCleanup(bool writeSettings)
{
    if (state.isOnprogress) return;
    state.Timer1 = false;
    authentication.reset();
    pipeline.StopAndClearGraph();
    ReleaseSink();
    if (writeSettings) {
        settings.WriteSettings();
        settings.Log(std::string(30, '-'));
    }
}
