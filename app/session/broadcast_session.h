// The session the main window drives: sources on and off, broadcast start and stop, the one
// way the pipeline is rebuilt, and the once-a-second supervision with reconnection. Runs on
// one thread (the window's); the host runs the ticks of the timers that SessionState shows on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "../account/authentication.h"
#include "../pipeline/capture_choices.h"
#include "../pipeline/encoder_settings.h"
#include "../pipeline/pipeline_graph.h"
#include "../settings/program_settings.h"
#include "network_connection.h"
#include "session_clock.h"
#include "session_state.h"
#include "winmsg/winmsg.h"

class BroadcastSession {
public:
    BroadcastSession(TprogramSettings& settings, std::string appPath);
    ~BroadcastSession();

    TprogramSettings& settings;
    const std::string APP_PATH;  // folder of the executable, ending in "/"
    SessionState state;
    CaptureChoices choices;
    PipelineGraph pipeline;
    TVideo_Encoder Video_Encoder;
    TAudio_Encoder Audio_Encoder;
    std::unique_ptr<Tauthentication> authentication;
    int channelPosition = -1;     // selection of the channel list
    std::string directAddress;    // a publishing address given without an account (veltro-cli --url)
    ComPtr<INetworkConnection> pRtmp;
    HWND notifyWindow = 0;        // receives WM_RTMP_SENT and device removals
    SessionClock sessionClock;
    OutgoingRate outgoing;
    std::function<void()> processMessages;  // lets pending window messages run

    // The stored choices into the controls' state: encoder values from the registry (defaults
    // when unreadable) into the bit-rate lists, the size fields and the recording path.
    void LoadSettingsIntoControls();

    void SwitchVideoOn();
    void SwitchVideoOff();
    void SwitchAudioOn();
    void SwitchAudioOff();
    void ChooseVideoDevice(int position);
    void ChooseAudioDevice(int position);

    void Stream_btnClick();
    void StopBroadcast();
    void Stop_Reconnect_btnClick();
    bool RebuildAndRunGraph();

    void Timer1Timer();         // meters, every 10 ms
    void Connec_TimerTimer();   // clock and counters, every second
    void Check_StreamTimer();   // connection check and reconnection, every second
    void OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CheckCaptureDevices();
    void HandleCaptureDeviceLoss();
    // Frees the pipeline and the account; `writeSettings` stores the choices as the window's close does.
    void ShutdownCleanup(bool writeSettings);

private:
    enum class Source { Video, Audio };
    void SwitchSourceOn(Source source);
    void SwitchSourceOff(Source source);
    std::string PublishingAddress() const;
    void ShowOnAirStatus();
    void ReleaseSink();
};
