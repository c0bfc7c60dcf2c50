// The handlers of the video, audio, encoder and recording controls: each stores the choice,
// refreshes what the window shows and, where the capture graph changes, rebuilds it.
#include <algorithm>

#include "../pipeline/bitrate_lists.h"
#include "../pipeline/format_lists.h"
#include "../pipeline/recording_file.h"
#include "broadcast_session.h"
#include "com/taskmem.h"

namespace {

// The number a size field holds; texts far beyond any valid size count as 1,000,000, so
// that the derived height stays a number and the start check still refuses them.
int SizeFieldValue(const std::string& digits)
{
    int value = 0;
    if (digits.size() > 7 || !ParseDecimalInt(digits, value)) return 1000000;
    return std::min(value, 1000000);
}

constexpr int kThumbTopFull = 14;     // full volume
constexpr int kThumbTopSilent = 154;  // zero

}  // namespace

void BroadcastSession::ShowIdleStatus()
{
    state.status = "Idle";
    state.statusRed = false;
    state.isDeviceProblem = false;
}

void BroadcastSession::Send_Video_lblClick()
{
    if (state.streamFlag == 1 || !state.sourceSwitchesEnabled) return;
    state.videoOn ? SwitchVideoOff() : SwitchVideoOn();
}

void BroadcastSession::Send_Audio_lblClick()
{
    if (state.streamFlag == 1 || !state.sourceSwitchesEnabled) return;
    state.audioOn ? SwitchAudioOff() : SwitchAudioOn();
}

bool BroadcastSession::TakeSize() { return choices.TakeSize(settings, state); }

void BroadcastSession::ColorFormatChange(int position)
{
    if (position < 0 || position >= int(choices.formats.size())) return;
    choices.formatSelection = position;
    settings.VideoFormat = choices.formats[position];
    choices.ListSizes(settings);
    choices.sizeSelection = choices.Video_Input_Sizes.empty() ? -1 : 0;
    settings.VideosizeIndex = 0;
    ShowIdleStatus();
    TakeSize();
    RebuildAndRunGraph();
}

void BroadcastSession::VideoSizeChange(int position)
{
    if (position < 0 || position >= int(choices.Video_Input_Sizes.size())) return;
    settings.VideosizeIndex = position;
    choices.sizeSelection = position;
    ShowIdleStatus();
    TakeSize();
    RebuildAndRunGraph();
}

void BroadcastSession::FramerateChange(const std::string& text)
{
    settings.Framerate = text;
    ShowIdleStatus();
    Video_Encoder.Set_Keyframe(WholeFrameRate(text));
    RebuildAndRunGraph();
}

void BroadcastSession::SampleRateChange(int position)
{
    if (position < 0 || position >= int(choices.sampleRates.size())) return;
    choices.sampleRateSelection = position;
    settings.AudioSampleRate = choices.sampleRates[position];
    RebuildAndRunGraph();
}

void BroadcastSession::DeviceSettingsClick()
{
    pipeline.StopGraph();
    CAUUID pages{0, nullptr};
    ComPtr<ISpecifyPropertyPages> specify;
    if (IBaseFilter* source = pipeline.VideoSourceFilter()) specify = ComPtr<IBaseFilter>(source).As<ISpecifyPropertyPages>();
    if (specify && SUCCEEDED(specify->GetPages(&pages)) && pages.cElems > 0 && showPropertyPages)
        showPropertyPages(pipeline.VideoSourceFilter(), pages);
    else
        settings.Log("Cannot display property page");
    CoTaskMemFree(pages.pElems);
    RebuildAndRunGraph();
}

void BroadcastSession::ResizeOutputOn() { settings.Output_resize = 1; }

void BroadcastSession::ResizeOutputOff()
{
    settings.Output_resize = 0;
    if (state.resizeWidthText.empty() || state.resizeWidthText == "0") {
        settings.Resize_width = settings.Video_width;
        state.resizeWidthText = std::to_string(settings.Video_width);
    }
    if (state.resizeHeightText.empty() || state.resizeHeightText == "0") {
        settings.Resize_height = settings.Video_height;
        state.resizeHeightText = std::to_string(settings.Video_height);
    }
}

void BroadcastSession::Resize_Output_lblClick()
{
    if (!state.videoOn || state.streamFlag == 1) return;
    settings.Output_resize == 1 ? ResizeOutputOff() : ResizeOutputOn();
}

void BroadcastSession::resize_widthChange(const std::string& typed)
{
    state.resizeWidthText = NormalizeSizeField(typed);
    settings.Resize_width = SizeFieldValue(state.resizeWidthText);
    // The height keeps the capture aspect ratio; without a capture height it stays as it is.
    if (auto height = ResizeHeightForWidth(settings.Resize_width, settings.Video_width, settings.Video_height)) {
        settings.Resize_height = *height;
        state.resizeHeightText = std::to_string(*height);
    }
}

void BroadcastSession::resize_heightChange(const std::string& typed)
{
    state.resizeHeightText = NormalizeSizeField(typed);
    settings.Resize_height = SizeFieldValue(state.resizeHeightText);
}

void BroadcastSession::HalfFramerateChange(bool on)
{
    settings.Framerate_half = on ? 1 : 0;
    pipeline.SetHalfFrameRate(on);
}

void BroadcastSession::UpdateRequiredCounter()
{
    state.requiredCounter = std::to_string(
        RequiredBitrate(state.videoOn, state.videoBitrateText, state.audioOn, state.audioBitrateText));
}

void BroadcastSession::VideoBitrateChange(const std::string& text)
{
    state.videoBitrateText = text;
    Video_Encoder.Set_Bitrate(BitrateNumber(text));
    UpdateRequiredCounter();
}

void BroadcastSession::AudioBitrateChange(const std::string& text)
{
    state.audioBitrateText = text;
    Audio_Encoder.Set_Bitrate(BitrateNumber(text) * 1000);
    UpdateRequiredCounter();
}

void BroadcastSession::KeyframeIntervalChange(int position)
{
    Video_Encoder.Set_KeyframeInterval(position + 1, WholeFrameRate(settings.Framerate));
}

void BroadcastSession::RecordingOn() { settings.Save_file = 1; }

void BroadcastSession::RecordingOff()
{
    settings.Save_file = 0;
    if (state.file_path_edit.empty()) state.file_path_edit = settings.File_path + settings.File_name;
}

void BroadcastSession::Save_file_lblClick()
{
    if (state.streamFlag == 1) return;
    settings.Save_file == 1 ? RecordingOff() : RecordingOn();
}

void BroadcastSession::BrowseChosen(const std::string& chosenPath)
{
    ApplyBrowsedRecordingFile(chosenPath, state.file_path_edit, settings);
}

void BroadcastSession::file_path_editChange(const std::string& text) { state.file_path_edit = text; }

bool BroadcastSession::Volume_bar_imgMouseMove(int newThumbTop)
{
    const bool moved = newThumbTop >= kThumbTopFull && newThumbTop <= kThumbTopSilent;
    if (moved) state.volumeThumbTop = newThumbTop;
    state.Plevel = 1.0 - double(state.volumeThumbTop - kThumbTopFull) / (kThumbTopSilent - kThumbTopFull);
    pipeline.ApplyVolume();
    state.volumeText = std::to_string(int(state.Plevel * 100)) + "%";
    SetMuted(state.Plevel < 0.01);
    return moved;
}

void BroadcastSession::SetMuted(bool muted)
{
    state.muted = muted;
    pipeline.SetMute(muted);
}

bool BroadcastSession::ResizeFieldsEnabled() const
{
    return state.videoControlsEnabled && settings.Output_resize == 1;
}

bool BroadcastSession::RecordingPathEnabled() const { return state.saveFileEnabled && settings.Save_file == 1; }

bool BroadcastSession::VideoTabEnabled() const { return settings.VideoSource != 0 && !state.isStreaming; }

bool BroadcastSession::AudioTabEnabled() const { return settings.AudioSource != 0 && !state.isStreaming; }

bool BroadcastSession::EncoderTabEnabled() const { return !state.encoderTabCovered && !state.isStreaming; }
