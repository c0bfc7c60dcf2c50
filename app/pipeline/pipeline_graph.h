// The capture pipeline: a graph built whole from the capture devices and the filters of the
// filters folder for every change, torn down whole before the next build.
#pragma once

#include <functional>
#include <string>

#include "aux_filters.h"
#include "capture_choices.h"
#include "dshow/control.h"
#include "dshow/qedit.h"
#include "format_lists.h"
#include "meter_grabber.h"
#include "module_config.h"

class TprogramSettings;
struct SessionState;

class PipelineGraph {
public:
    PipelineGraph(TprogramSettings& settings, SessionState& state, CaptureChoices& choices, std::string appPath);
    ~PipelineGraph();
    PipelineGraph(const PipelineGraph&) = delete;
    PipelineGraph& operator=(const PipelineGraph&) = delete;

    // A new graph holding the capture filters of the sources that are on; false (graph
    // cleared) when a device could not be bound.
    bool CreateGraphWithSources();
    // Everything after the capture filters. Throws FilterLoadError for a library that loads
    // but yields no filter.
    bool BuildPipeline();
    bool StopAndClearGraph();
    void ReleaseFilterReferences();
    // The default reference clock, `wait`(200 ms), then run; false with the error text.
    bool RunGraph(std::string& error, const std::function<void(int milliseconds)>& wait);
    void StopGraph();

    bool HasGraph() const { return bool(FilterGraph); }
    IGraphBuilder* Graph() const { return FilterGraph.Get(); }
    bool GetStreamPosition(int64_t& position) const;
    IBaseFilter* VideoSourceFilter() const { return filter_video_source.Get(); }

    // Effects of the window's controls on a running graph.
    void SetHalfFrameRate(bool half);
    void SetMute(bool mute);
    void ApplyVolume();

    ComPtr<IBaseFilter> rtmpSink;  // the RTMP sink role; created and released by the session
    int requestBytesCount = 0;
    bool recordingFileFailed = false;  // the last build failed because the file writer could not create the file
    PreviewRect preview{0, 0, 320, 180};
    OAHWND previewOwner = 0;  // monitor1; 0 keeps the renderer's window hidden
    ComPtr<TAudio_Grabber> Audio_Left_Grabber;
    ComPtr<TAudio_Grabber> Audio_Right_Grabber;

private:
    enum class Side { Left, Right };
    bool BuildAudioBranch();
    bool BuildSilentAudioBranch();
    bool BuildVideoBranch();
    bool BuildMeterTap(Side side);
    void ConfigureScaler();
    void ApplyVideoFormat();
    void ApplyAudioFormat();
    void SetDecoderOptions();
    void SetRendererOptions();
    bool BindSource(REFCLSID category, int position, ComPtr<IBaseFilter>& filter, const char16_t* name);

    bool Add(IBaseFilter* filter, const char16_t* name);
    bool Connect(IBaseFilter* upstream, IBaseFilter* downstream);
    void LoadFilter(const char* fileName, REFCLSID clsid, ComPtr<IBaseFilter>& slot);
    ComPtr<IBaseFilter> CreatePlatformFilter(REFCLSID clsid);
    bool Fail(const char* message);

    TprogramSettings& settings_;
    SessionState& state_;
    CaptureChoices& choices_;
    std::string appPath_;

    ComPtr<IGraphBuilder> FilterGraph;
    ComPtr<ICaptureGraphBuilder2> builder_;
    ComPtr<IBaseFilter> filter_video_source, filter_audio_source;
    ComPtr<IBaseFilter> controlFps_, previewTee_, renderer_, resizer_, x264_, recordTee2_;
    ComPtr<IBaseFilter> audioVolume_, audioTee_, splitter_, nullRenderer1_, nullRenderer2_;
    ComPtr<IBaseFilter> grabber1_, grabber2_, aacEncoder_, recordTee4_, audioGenerator_, mp4Muxer_, fileWriter_;
    ComPtr<IVideoWindow> previewWindow_;
    ComPtr<IControlFps> pControlFps;
    ComPtr<IIAudioVolume> pAudioVolume;
    ComPtr<ISampleGrabber> p_AudioGrabber1, p_AudioGrabber2;
    ComPtr<IModuleConfig> pModuleConfig;
};
