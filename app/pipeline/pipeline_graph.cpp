#include "pipeline_graph.h"

#include <cfenv>
#include <vector>

#include "../session/session_state.h"
#include "../settings/program_settings.h"
#include "com/plugin.h"
#include "dshow/mtype.h"
#include "dshow/uuids.h"
#include "bitrate_lists.h"
#include "encoder_settings.h"
#include "filter_loader.h"
#include "network_connection.h"

namespace {

std::u16string Utf16(const std::string& text) { return Utf16FromUtf8(text); }

HRESULT SetIntegerParameter(IModuleConfig* config, const GUID& id, int value)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return config->SetValue(&id, &variant);
}

}  // namespace

PipelineGraph::PipelineGraph(TprogramSettings& settings, SessionState& state, CaptureChoices& choices,
                             std::string appPath)
    : Audio_Left_Grabber(ComPtr<TAudio_Grabber>::Adopt(new TAudio_Grabber)),
      Audio_Right_Grabber(ComPtr<TAudio_Grabber>::Adopt(new TAudio_Grabber)),
      settings_(settings),
      state_(state),
      choices_(choices),
      appPath_(std::move(appPath))
{
}

PipelineGraph::~PipelineGraph() { StopAndClearGraph(); }

bool PipelineGraph::Fail(const char* message)
{
    settings_.Log(message);
    return false;
}

bool PipelineGraph::Add(IBaseFilter* filter, const char16_t* name)
{
    return filter && FilterGraph && SUCCEEDED(FilterGraph->AddFilter(filter, name));
}

bool PipelineGraph::Connect(IBaseFilter* upstream, IBaseFilter* downstream)
{
    return upstream && downstream && builder_ &&
           SUCCEEDED(builder_->RenderStream(nullptr, nullptr, upstream, nullptr, downstream));
}

void PipelineGraph::LoadFilter(const char* fileName, REFCLSID clsid, ComPtr<IBaseFilter>& slot)
{
    LoadFilterFromLibrary(FilterLibraryPath(appPath_, fileName), clsid, slot);
}

ComPtr<IBaseFilter> PipelineGraph::CreatePlatformFilter(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IID_IBaseFilter, filter.PutVoid());
    return filter;
}

bool PipelineGraph::BindSource(REFCLSID category, int position, ComPtr<IBaseFilter>& filter, const char16_t* name)
{
    std::string error;
    if (!BindCaptureDevice(category, position, filter, error)) return false;
    FilterGraph->AddFilter(filter.Get(), name);
    return true;
}

bool PipelineGraph::CreateGraphWithSources()
{
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, FilterGraph.PutVoid());
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                     builder_.PutVoid());
    if (!FilterGraph || !builder_) {
        settings_.Log("Cannot recreate preview stuff : the filter graph cannot be created");
        return true;
    }
    builder_->SetFiltergraph(FilterGraph.Get());
    if (state_.videoOn &&
        !BindSource(CLSID_VideoInputDeviceCategory, choices_.videoDevicePosition, filter_video_source, u"Video")) {
        settings_.Create_message_popup("Problem with Video Capture Device. Please check your Video Capture Device", "");
        state_.videoControlsEnabled = false;
        settings_.VideoSource = 0;
        state_.videoOn = false;
        choices_.DropVideo();
        StopAndClearGraph();
        return false;
    }
    if (state_.audioOn &&
        !BindSource(CLSID_AudioInputDeviceCategory, settings_.AudioIndex, filter_audio_source, u"Audio")) {
        settings_.Create_message_popup("Problem with Audio Capture Device. Please check your Audio Capture Device", "");
        settings_.AudioSource = 0;
        state_.audioOn = false;
        choices_.DropAudio();
        state_.audioControlsEnabled = false;
        StopAndClearGraph();
        return false;
    }
    if (choices_.vsource_changed && filter_video_source) {
        choices_.vsource_changed = false;
        choices_.ListVideoFormats(filter_video_source.Get(), settings_, state_);
    }
    if (choices_.asource_changed && filter_audio_source) {
        choices_.asource_changed = false;
        choices_.ListSampleRates(filter_audio_source.Get(), settings_);
    }
    return true;
}

bool PipelineGraph::BuildPipeline()
{
    SetDecoderOptions();
    recordingFileFailed = false;
    const bool broadcasting = state_.streamFlag == 1;
    if (broadcasting) {
        if (!Add(rtmpSink.Get(), u"RTMP STREAM")) return Fail("Error Adding RTMP filter");
        if (settings_.Save_file == 1) {
            LoadFilter("tmp4mux.ax", CLSID_MP4Muxer, mp4Muxer_);
            if (!Add(mp4Muxer_.Get(), u"MP4 Muxer")) return Fail("Error Adding   MP4 Muxer");
            fileWriter_ = CreatePlatformFilter(CLSID_FileWriter);
            if (!Add(fileWriter_.Get(), u"File Writer")) return Fail("Error Adding  File Writer");
            // A file that cannot be created fails the build, before anything is connected.
            const std::string path = settings_.File_path + settings_.File_name;
            ComPtr<IFileSinkFilter> sink = fileWriter_.As<IFileSinkFilter>();
            HRESULT status = sink ? sink->SetFileName(Utf16(path).c_str(), nullptr) : E_NOINTERFACE;
            if (FAILED(status)) {
                recordingFileFailed = true;
                return Fail(("Cannot create recording file " + path + ": " + StatusText(status)).c_str());
            }
        }
    }
    requestBytesCount = 0;
    if (state_.audioOn) {
        if (!BuildAudioBranch()) return false;
        requestBytesCount += BitrateNumber(state_.audioBitrateText);
    } else if (!BuildSilentAudioBranch()) {
        return false;
    }
    if (state_.videoOn) {
        if (!BuildVideoBranch()) return false;
        requestBytesCount += BitrateNumber(state_.videoBitrateText);
    }
    state_.requiredCounter = std::to_string(requestBytesCount);
    if (settings_.Save_file == 1 && broadcasting && !Connect(mp4Muxer_.Get(), fileWriter_.Get()))
        return Fail("Error Connecting  File Writer - > MP4 Muxer");
    return true;
}

bool PipelineGraph::BuildVideoBranch()
{
    ApplyVideoFormat();
    LoadFilter("KeshControlFps.ax", CLSID_KeshControlFps, controlFps_);
    if (!Add(controlFps_.Get(), u"Control fps")) return Fail("Error Adding preview Control_fps");
    if (!Connect(filter_video_source.Get(), controlFps_.Get())) {
        state_.isDeviceProblem = true;
        return Fail("Error Connecting  Video Source <- Control fps");
    }
    if (settings_.Framerate_half == 1) {
        pControlFps = controlFps_.As<IControlFps>();
        if (pControlFps) pControlFps->SetHalfFrameRate(TRUE);
    }
    LoadFilter("KeshInfTee.ax", CLSID_KeshInfTee, previewTee_);
    if (!Add(previewTee_.Get(), u"Inf Tee 1")) return Fail("Error Adding preview tee 1");
    if (!Connect(controlFps_.Get(), previewTee_.Get())) {
        state_.isDeviceProblem = true;
        return Fail("Error Connecting  Control fps<- preview  tee 1 ");
    }
    state_.status = "Idle";
    preview = PreviewPlacement(settings_.Video_width, settings_.Video_height);
    SetRendererOptions();
    renderer_ = CreatePlatformFilter(CLSID_VideoRenderer);
    if (!Add(renderer_.Get(), u"RENDERER 1 ")) return Fail("Error Adding RENDERER 1");
    if (!Connect(previewTee_.Get(), renderer_.Get())) return Fail("Error Connecting preview  tee 1 <- Renderer 1");
    previewWindow_ = renderer_.As<IVideoWindow>();
    if (previewWindow_ && previewOwner) {
        previewWindow_->put_Owner(previewOwner);
        previewWindow_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
        previewWindow_->SetWindowPosition(preview.left, preview.top, preview.width, preview.height);
    } else if (previewWindow_) {
        previewWindow_->put_AutoShow(OAFALSE);
    }
    if (state_.streamFlag != 1) return true;

    LoadFilter("scalvo.ax", CLSID_TolvaneVideoScaler, resizer_);
    if (!Add(resizer_.Get(), u"Resizer")) return Fail("Error Adding   Resizer");
    ConfigureScaler();
    // The limiter already feeds the preview tee; the builder finds the scaler a further output.
    if (!Connect(controlFps_.Get(), resizer_.Get())) return Fail("Error Connecting  Video Decoder 1 <-   Resizer");
    LoadFilter("mmx264.ax", CLSID_MonogramX264, x264_);
    if (!Add(x264_.Get(), u"x264 Encoder")) return Fail("Error Adding  x264 Encoder");
    if (!Connect(resizer_.Get(), x264_.Get())) return Fail("Error Connecting  Video Decoder  <-   x264 Encoder");
    if (settings_.Save_file != 0) {
        LoadFilter("KeshInfTee.ax", CLSID_KeshInfTee, recordTee2_);
        if (!Add(recordTee2_.Get(), u"Inf Tee 2")) return Fail("Error Adding   Inf Tee 2");
        if (!Connect(x264_.Get(), recordTee2_.Get())) return Fail("Error Connecting Inf Tee 2 - > Kesh Sample Copy");
        if (!Connect(recordTee2_.Get(), mp4Muxer_.Get()))
            return Fail("Error Connecting MP4 Muxer - > filter_preview_tee2");
        if (!Connect(recordTee2_.Get(), rtmpSink.Get())) return Fail("Error Inf Tee 2 <-   RTMP filter ");
    } else if (!Connect(x264_.Get(), rtmpSink.Get())) {
        return Fail("Error Inf Tee 2 <-   RTMP filter ");
    }
    return true;
}

void PipelineGraph::ConfigureScaler()
{
    pModuleConfig = resizer_.As<IModuleConfig>();
    if (!pModuleConfig) return;
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_RESIZING_STATE, settings_.Output_resize == 1 ? 1 : 0);
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_AR_CHANGE_STATE, 1);
    ScopedVariant sixteen;
    sixteen->vt = VT_BSTR;
    sixteen->bstrVal = SysAllocStringUtf8("16");
    pModuleConfig->SetValue(&SCALVO_PARAM_TARGET_AR_WIDTH, sixteen.get());
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_TARGET_AR_HEIGHT, 9);
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_AR_METHOD, 2);
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_RESIZED_HEIGHT, settings_.Resize_height);
    SetIntegerParameter(pModuleConfig.Get(), SCALVO_PARAM_RESIZED_WIDTH, settings_.Resize_width);
    ScopedVariant empty;
    pModuleConfig->CommitChanges(empty.get());
}

bool PipelineGraph::BuildAudioBranch()
{
    ApplyAudioFormat();
    TAudio_Encoder().Set_Bitrate(BitrateNumber(state_.audioBitrateText + "000"));
    LoadFilter("KeshAudiovolume.ax", CLSID_KeshAudioVolume, audioVolume_);
    if (!Add(audioVolume_.Get(), u"Audio Volume Control")) return Fail("Error Adding  Audio Volume Control");
    if (state_.muted) SetMute(true);
    if (!Connect(filter_audio_source.Get(), audioVolume_.Get()))
        return Fail("Error Connecting  Audio Volume Control - > Audio Source");
    LoadFilter("KeshInfTee.ax", CLSID_KeshInfTee, audioTee_);
    if (!Add(audioTee_.Get(), u"Inf Tee 3")) return Fail("Error Adding   preview 3");
    if (!Connect(audioVolume_.Get(), audioTee_.Get())) return Fail("Error Connecting preview 3 - > Audio Volume Control ");
    LoadFilter("KeshStereoSplitter.ax", CLSID_KeshStereoSplitter, splitter_);
    if (!Add(splitter_.Get(), u"STEREO SPLITTER")) return Fail("Error Adding   Audio Stereo Splitter");
    if (!Connect(audioTee_.Get(), splitter_.Get())) return Fail("Error Connecting Audio Stereo Splitter - > preview 3");
    if (!BuildMeterTap(Side::Left) || !BuildMeterTap(Side::Right)) return false;
    if (state_.streamFlag != 1) return true;

    LoadFilter("aacenc.dll", CLSID_MonogramAAC, aacEncoder_);
    if (!Add(aacEncoder_.Get(), u"AAC Encoder")) return Fail("Error Adding AAC filter");
    if (!Connect(audioTee_.Get(), aacEncoder_.Get())) return Fail("Error Connecting  AAC filter -> preview_tee 3");
    if (settings_.Save_file != 0) {
        LoadFilter("KeshInfTee.ax", CLSID_KeshInfTee, recordTee4_);
        if (!Add(recordTee4_.Get(), u"Inf Tee 4")) return Fail("Error Adding   preview 4");
        if (!Connect(aacEncoder_.Get(), recordTee4_.Get()))
            return Fail("Error Connecting preview 4 - > Audio Volume Control ");
        if (!Connect(recordTee4_.Get(), mp4Muxer_.Get())) return Fail("Error Connecting  File Writer -> MP4 Muxer");
        if (!Connect(recordTee4_.Get(), rtmpSink.Get())) return Fail("Error Connecting  RTMP filter -> AAC filtter");
    } else if (!Connect(aacEncoder_.Get(), rtmpSink.Get())) {
        return Fail("Error Connecting  RTMP filter -> AAC filtter");
    }
    return true;
}

bool PipelineGraph::BuildMeterTap(Side side)
{
    const bool left = side == Side::Left;
    ComPtr<IBaseFilter>& grabber = left ? grabber1_ : grabber2_;
    ComPtr<IBaseFilter>& nullRenderer = left ? nullRenderer1_ : nullRenderer2_;
    grabber = CreatePlatformFilter(CLSID_SampleGrabber);
    if (!grabber) return Fail(left ? "Error Creating   Voume Metter Left" : "Error Creating   Voume Metter Right");
    if (!Add(grabber.Get(), left ? u"VOLUME METTER LEFT" : u"VOLUME METTER RIGHT"))
        return Fail(left ? "Error Adding   Sample grabber 1" : "Error Adding   Sample grabber 2");
    if (!Connect(splitter_.Get(), grabber.Get()))
        return Fail(left ? "Error Connecting Stereo Splitter <-  Sample grabber 1"
                         : "Error Connecting  Stereo Splitter - > sample grabber2");
    nullRenderer = CreatePlatformFilter(CLSID_NullRenderer);
    if (!nullRenderer) return Fail("Error Creating   Null Renderer");
    if (!Add(nullRenderer.Get(), left ? u"AUDIO NULL RENDERER 1" : u"AUDIO NULL RENDERER 2"))
        return Fail(left ? "Error Adding  Audio Null Renderer" : "Error Adding  Audio Null Renderer 2 ");
    if (!Connect(grabber.Get(), nullRenderer.Get()))
        return Fail(left ? "Error Connecting Sample grabber 1 <-  Null Renderer 1 "
                         : "Error Connecting Sample grabber 2 <- Null Renderer 2 ");
    ComPtr<ISampleGrabber>& control = left ? p_AudioGrabber1 : p_AudioGrabber2;
    control = grabber.As<ISampleGrabber>();
    if (control) {
        CMediaType type(&MEDIATYPE_Audio);
        type.SetFormatType(&FORMAT_WaveFormatEx);
        control->SetMediaType(&type);
        control->SetOneShot(FALSE);
        control->SetBufferSamples(TRUE);
        control->SetCallback(left ? Audio_Left_Grabber.Get() : Audio_Right_Grabber.Get(), 1);
    }
    return true;
}

bool PipelineGraph::BuildSilentAudioBranch()
{
    TAudio_Encoder().Set_Bitrate(32000);
    if (state_.streamFlag != 1) return true;
    LoadFilter("KeshAudioGenerator.ax", CLSID_KeshAudioGenerator, audioGenerator_);
    if (!Add(audioGenerator_.Get(), u"KeshAudioGenerator")) return Fail("Error Adding KeshAudioGenerator");
    LoadFilter("aacenc.dll", CLSID_MonogramAAC, aacEncoder_);
    if (!Add(aacEncoder_.Get(), u"AAC Encoder")) return Fail("Error Adding AAC filter");
    if (!Connect(audioGenerator_.Get(), aacEncoder_.Get()))
        return Fail("Error Connecting  AAC filter -> KeshAudioGenerator");
    if (!Connect(aacEncoder_.Get(), rtmpSink.Get())) return Fail("Error Connecting  RTMP filter -> AAC filtter");
    return true;
}

void PipelineGraph::ApplyVideoFormat()
{
    double fps = 0;
    bool fpsValid = ParseFramerate(settings_.Framerate, fps);
    AM_MEDIA_TYPE* chosen = nullptr;
    if (choices_.sizeSelection >= 0 && choices_.sizeSelection < int(choices_.Video_Input_Sizes.size()))
        chosen = choices_.VideoMediaTypes.At(choices_.Video_Input_Sizes[choices_.sizeSelection].position);
    if (!chosen)
        settings_.Log("Cannot assign Size index objects  List index out of bounds (" +
                      std::to_string(choices_.sizeSelection) + ")");
    ComPtr<IAMStreamConfig> config;
    if (!builder_ || FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, filter_video_source.Get(),
                                                    IID_IAMStreamConfig, config.PutVoid())) ||
        !config) {
        settings_.Log("Cannot set video settings Interface not supported");
        return;
    }
    if (chosen) {
        HRESULT status = config->SetFormat(chosen);
        if (FAILED(status)) settings_.Log("Cannot set video settings " + StatusText(status));
    }
    if (!fpsValid) {
        settings_.Log("Cannot set Stream FPS '" + settings_.Framerate + "' is not a valid floating point value");
        return;
    }
    AM_MEDIA_TYPE* current = nullptr;
    HRESULT status = config->GetFormat(&current);
    if (SUCCEEDED(status) && current) {
        REFERENCE_TIME frameTime = AvgTimePerFrame(fps);
        if (current->formattype == FORMAT_VideoInfo && current->cbFormat >= sizeof(VIDEOINFOHEADER))
            reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->AvgTimePerFrame = frameTime;
        else if (current->formattype == FORMAT_VideoInfo2 && current->cbFormat >= sizeof(VIDEOINFOHEADER2))
            reinterpret_cast<VIDEOINFOHEADER2*>(current->pbFormat)->AvgTimePerFrame = frameTime;
        status = config->SetFormat(current);
        DeleteMediaType(current);
    }
    if (FAILED(status)) settings_.Log("Cannot set Stream FPS " + StatusText(status));
}

void PipelineGraph::ApplyAudioFormat()
{
    int position = ChooseAudioType(AudioTypeEntries(choices_.AudioMediaTypes), settings_.AudioSampleRate);
    ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* type = choices_.AudioMediaTypes.At(size_t(position < 0 ? 0 : position));
    if (position < 0 || !builder_ ||
        FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, filter_audio_source.Get(),
                                       IID_IAMStreamConfig, config.PutVoid())) ||
        !config || FAILED(config->SetFormat(type)))
        settings_.Log("Cannot set Audio settings");
    ApplyVolume();
}

void PipelineGraph::ApplyVolume()
{
    if (!state_.audioOn || !filter_audio_source || !FilterGraph) return;
    ComPtr<IAMAudioInputMixer> mixer;
    if (FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, filter_audio_source.Get(),
                                       IID_IAMAudioInputMixer, mixer.PutVoid())) ||
        !mixer || FAILED(mixer->put_MixLevel(state_.Plevel)))
        settings_.Log("Cannot change volume");
}

void PipelineGraph::SetMute(bool mute)
{
    if (!audioVolume_) return;
    pAudioVolume = audioVolume_.As<IIAudioVolume>();
    if (pAudioVolume) pAudioVolume->SetMute(mute ? TRUE : FALSE);
}

void PipelineGraph::SetHalfFrameRate(bool half)
{
    if (!controlFps_) return;
    pControlFps = controlFps_.As<IControlFps>();
    if (pControlFps) pControlFps->SetHalfFrameRate(half ? TRUE : FALSE);
}

void PipelineGraph::SetDecoderOptions()
{
    const char* key = "\\SOFTWARE\\GNU\\ffdshow";
    WriteUserDword(key, "rawv", 1);
    WriteUserDword(key, "trayIcon", 4);
    WriteUserDword(key, "multipleInstances", 4);
}

void PipelineGraph::SetRendererOptions()
{
    const char* key = "\\SOFTWARE\\haali\\Video Renderer";
    WriteUserDword(key, "buffers", 30);
    WriteUserDword(key, "frames", 30);
}

bool PipelineGraph::RunGraph(std::string& error, const std::function<void(int milliseconds)>& wait)
{
    if (!FilterGraph) {
        error = "no filter graph";
        return false;
    }
    FilterGraph->SetDefaultSyncSource();
    wait(200);
    ComPtr<IMediaControl> control = FilterGraph.As<IMediaControl>();
    HRESULT status = control ? control->Run() : E_NOINTERFACE;
    if (FAILED(status)) {
        error = StatusText(status);
        return false;
    }
    return true;
}

void PipelineGraph::StopGraph()
{
    if (ComPtr<IMediaControl> control = FilterGraph.As<IMediaControl>()) control->Stop();
}

bool PipelineGraph::GetStreamPosition(int64_t& position) const
{
    ComPtr<IMediaSeeking> seeking = FilterGraph.As<IMediaSeeking>();
    return seeking && SUCCEEDED(seeking->GetCurrentPosition(&position));
}

bool PipelineGraph::StopAndClearGraph()
{
    if (!FilterGraph) return false;
    {
        // Filters must not raise floating-point traps while they stop.
        std::fenv_t saved;
        std::feholdexcept(&saved);
        ComPtr<IMediaControl> control = FilterGraph.As<IMediaControl>();
        HRESULT status = control ? control->Stop() : E_NOINTERFACE;
        std::fesetenv(&saved);
        if (FAILED(status)) settings_.Log("Error Stopping  graph: " + StatusText(status));
    }
    ReleaseFilterReferences();
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> enumerator;
    if (SUCCEEDED(FilterGraph->EnumFilters(enumerator.Put())) && enumerator) {
        ComPtr<IBaseFilter> filter;
        ULONG fetched = 0;
        while (enumerator->Next(1, filter.Put(), &fetched) == S_OK && fetched == 1) filters.push_back(filter);
    }
    for (const ComPtr<IBaseFilter>& filter : filters)
        if (FAILED(FilterGraph->RemoveFilter(filter.Get()))) settings_.Log("Error clearing graph: RemoveFilter failed");
    filter_video_source.Reset();
    filter_audio_source.Reset();
    builder_.Reset();
    FilterGraph.Reset();
    return true;
}

void PipelineGraph::ReleaseFilterReferences()
{
    for (ComPtr<IBaseFilter>* filter :
         {&renderer_, &nullRenderer1_, &nullRenderer2_, &grabber1_, &grabber2_, &audioTee_, &splitter_, &audioVolume_,
          &audioGenerator_, &previewTee_, &recordTee2_, &recordTee4_, &x264_, &aacEncoder_, &resizer_, &fileWriter_,
          &mp4Muxer_, &controlFps_})
        filter->Reset();
    previewWindow_.Reset();
    p_AudioGrabber1.Reset();
    p_AudioGrabber2.Reset();
    pControlFps.Reset();
    pAudioVolume.Reset();
    pModuleConfig.Reset();
}
