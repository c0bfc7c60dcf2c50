// What the window keeps on its controls rather than in fields, and what it shows: the core
// changes this state and a view (the window, veltro-cli) reads it.
#pragma once

#include <string>

enum class FrontButton { Stream, StopStream, StopReconnect };

struct SessionState {
    // Fields of the session.
    bool isStreaming = false;
    bool isOnprogress = false;
    bool isDeviceProblem = false;

    // Flags that live on controls.
    int streamFlag = 0;    // tag of Stream_btn: a broadcast start was accepted
    bool videoOn = false;  // tag of Video_Checkbox_off
    bool audioOn = false;  // tag of Audio_Checkbox_off

    // Texts of the bit-rate lists (kbit/s) and the muted-state image.
    std::string videoBitrateText = "1000";
    std::string audioBitrateText = "128";
    bool muted = false;
    int volumeThumbTop = 83;                  // the slider's thumb: 14 is full volume, 154 silence
    double Plevel = 1.0 - (83 - 14) / 140.0;  // the volume chosen with the slider
    std::string volumeText = "50%";

    // Output size fields.
    std::string resizeWidthText;
    std::string resizeHeightText;
    // The recording path field.
    std::string file_path_edit;

    // What the view shows.
    std::string status = "Idle";
    bool statusRed = false;
    std::string clock = "00:00:00";
    std::string actualCounter = "---";
    std::string requiredCounter = "---";
    bool countersVisible = false;
    int leftLevel = 0;  // highest lit meter segment
    int rightLevel = 0;
    int days = 0;
    bool daysVisible = false;
    FrontButton front = FrontButton::Stream;
    bool busyCursor = false;

    // Timers (the view runs the ticks of those that are on).
    bool Timer1 = false;
    bool Connect_Timer = false;
    bool Check_Stream = false;

    // Controls enabled for input.
    bool sourceSwitchesEnabled = true;
    bool channelEnabled = true;
    bool videoControlsEnabled = false;
    bool audioControlsEnabled = false;
    bool captureFormatListsEnabled = true;
    bool saveFileEnabled = true;
    // The Encoder tab shows its disabled image from a broadcast start until the preview is back
    // after the stop (it stays covered when the preview cannot restart).
    bool encoderTabCovered = false;
};
