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
    // The blocking waits of the steps (1000 ms in a reconnection attempt, 100 ms before a device
    // check, 200 ms before the graph runs); a window can keep painting meanwhile. Sleeps when unset.
    std::function<void(int milliseconds)> wait;
    // Shows the video capture filter's property pages as a modal dialog of the window; the
    // device settings button stops the graph around it. Without a host the pages cannot show.
    std::function<void(IBaseFilter* filter, const CAUUID& pages)> showPropertyPages;

    // The stored choices into the controls' state: encoder values from the registry (defaults
    // when unreadable) into the bit-rate lists, the size fields and the recording path.
    void LoadSettingsIntoControls();

    void SwitchVideoOn();
    void SwitchVideoOff();
    void SwitchAudioOn();
    void SwitchAudioOff();
    void ChooseVideoDevice(int position);
    void ChooseAudioDevice(int position);
    // The "Send Video" and "Send Audio" texts flip their switch, except while a broadcast runs
    // or the switches are disabled.
    void Send_Video_lblClick();
    void Send_Audio_lblClick();

    // Choices of the video and audio panels; each rebuilds the pipeline.
    void ColorFormatChange(int position);   // in choices.formats
    void VideoSizeChange(int position);     // in choices.Video_Input_Sizes
    void FramerateChange(const std::string& text);
    void SampleRateChange(int position);    // in choices.sampleRates
    // Stops the graph, shows the capture filter's pages through showPropertyPages (or logs
    // "Cannot display property page"), rebuilds.
    void DeviceSettingsClick();
    // Width and height of the capture size from the selected size text; the output size
    // fields follow while resizing is off.
    bool TakeSize();

    // Output size: the switch, the "Resize Output" text and the two fields. A field change
    // takes the typed text and leaves the shown texts in state.resizeWidthText/resizeHeightText.
    void ResizeOutputOn();
    void ResizeOutputOff();
    void Resize_Output_lblClick();
    void resize_widthChange(const std::string& typed);
    void resize_heightChange(const std::string& typed);

    // Encoder choices: the half-frame-rate switch (setting and running limiter), the bit-rate
    // lists (registry values and the required total) and the keyframe interval list.
    void HalfFramerateChange(bool on);
    void VideoBitrateChange(const std::string& text);
    void AudioBitrateChange(const std::string& text);
    void KeyframeIntervalChange(int position);

    // Recording: the switch images, the "Save to file" text, the save dialog's choice (asks
    // before an existing file is overwritten) and the path field (the window's field takes at
    // most 200 characters).
    void RecordingOn();
    void RecordingOff();
    void Save_file_lblClick();
    void BrowseChosen(const std::string& chosenPath);
    void file_path_editChange(const std::string& text);

    // Volume slider: the thumb's new top; false (thumb left in place) outside 14..154. Sets
    // the input mix level and mutes below 1 %.
    bool Volume_bar_imgMouseMove(int newThumbTop);
    // The two mute images; the slider stays as it is.
    void SetMuted(bool muted);

    // What the window enables, so that it repeats none of the rules.
    bool ResizeFieldsEnabled() const;
    bool RecordingPathEnabled() const;  // path field and active browse image
    bool VideoTabEnabled() const;
    bool AudioTabEnabled() const;
    bool EncoderTabEnabled() const;

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
    void Wait(int milliseconds);
    void SwitchSourceOn(Source source);
    void SwitchSourceOff(Source source);
    std::string PublishingAddress() const;
    void ShowOnAirStatus();
    void ShowIdleStatus();
    // With VELTRO_LOG_GRAPH=1 the running graph's filters and connections go to log.txt.
    void LogGraphWhenAsked();
    void UpdateRequiredCounter();
    void ReleaseSink();
};
