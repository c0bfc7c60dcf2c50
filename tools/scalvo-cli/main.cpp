// scalvo-cli: runs the scaler filter library on raw frames, configured as a host configures it.
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <random>
#include <type_traits>

#include "com/plugin.h"
#include "dshow/control.h"
#include "dshow/uuids.h"
#include "interfaces/module_config.h"
#include "options.h"
#include "propframe/property_frame.h"

namespace {

std::string ExecutableDir()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string full = n > 0 ? std::string(path, size_t(n)) : std::string(".");
    return full.substr(0, full.rfind('/'));
}

class Failure {
public:
    Failure(const char* what, HRESULT hr) : what_(what), hr_(hr) {}
    int Report() const
    {
        std::fprintf(stderr, "scalvo-cli: %s failed (0x%08X)\n", what_, unsigned(hr_));
        return 1;
    }

private:
    const char* what_;
    HRESULT hr_;
};

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) throw Failure(what, hr);
}

// Sets one parameter the way a host does: a plain number in a variant, converted by the filter.
template <class T>
void Set(IModuleConfig* config, const GUID& id, T value, const char* what)
{
    VARIANT v;
    VariantInit(&v);
    if constexpr (std::is_same_v<T, double>) {
        v.vt = VT_R8;
        v.dblVal = value;
    } else if constexpr (std::is_same_v<T, uint32_t>) {
        v.vt = VT_UI4;
        v.ulVal = value;
    } else {
        v.vt = VT_I4;
        v.lVal = value;
    }
    Check(config->SetValue(&id, &v), what);
}

// Every parameter is set, so that what an earlier run left in the registry does not apply.
void Configure(IModuleConfig* config, const CliOptions& o)
{
    const bool resize = o.in.width != o.out.width || o.in.height != o.out.height;
    Set<LONG>(config, SCALVO_PARAM_RESIZING_STATE, resize ? 1 : 0, "Resizing Option State");
    Set<LONG>(config, SCALVO_PARAM_RESIZED_WIDTH, LONG(o.out.width), "Resized Frame Width");
    Set<LONG>(config, SCALVO_PARAM_RESIZED_HEIGHT, LONG(o.out.height), "Resized Frame Height");
    Set<LONG>(config, SCALVO_PARAM_RESIZING_METHOD, LONG(o.method.value_or(1)), "Resizing Method");
    Set<LONG>(config, SCALVO_PARAM_CROPPING_STATE, o.crop ? 1 : 0, "Cropping Option State");
    if (o.crop) {
        Set<LONG>(config, SCALVO_PARAM_LEFT_CROPPING, LONG((*o.crop)[0]), "Left Cropping");
        Set<LONG>(config, SCALVO_PARAM_TOP_CROPPING, LONG((*o.crop)[1]), "Top Cropping");
        Set<LONG>(config, SCALVO_PARAM_RIGHT_CROPPING, LONG((*o.crop)[2]), "Right Cropping");
        Set<LONG>(config, SCALVO_PARAM_BOTTOM_CROPPING, LONG((*o.crop)[3]), "Bottom Cropping");
    }
    Set<LONG>(config, SCALVO_PARAM_AR_CHANGE_STATE, o.ar ? 1 : 0, "Changing AR Option State");
    if (o.ar) {
        Set<double>(config, SCALVO_PARAM_TARGET_AR_WIDTH, o.ar->first, "Target AR Width Coefficient");
        Set<double>(config, SCALVO_PARAM_TARGET_AR_HEIGHT, o.ar->second, "Target AR Height Coefficient");
        Set<LONG>(config, SCALVO_PARAM_AR_METHOD, LONG(o.arMethod), "Changing AR Method");
    }
    Set<LONG>(config, SCALVO_PARAM_INTERLACE_STATE, LONG(o.interlace.value_or(0)), "Interlace state definition");
    Set<LONG>(config, SCALVO_PARAM_VBI_MODE, LONG(o.vbi.value_or(0)), "VBI using mode");
    Set<LONG>(config, SCALVO_PARAM_COLOR_CONVERSION, -1, "Color space conversion");
    Set<uint32_t>(config, SCALVO_PARAM_AFFINITY_MASK, o.affinityMask.value_or(0), "Affinity Mask");
    Check(config->CommitChanges(nullptr), "CommitChanges");
}

// Every parameter's applied value, one "name: value" line each, with the value's meaning
// where the parameter has one ("Resizing Method: 2 (Lanczos)").
void PrintParameters(IModuleConfig* config)
{
    LONG count = 0;
    config->EnumParams(&count, nullptr);
    std::vector<GUID> ids(size_t(std::max<LONG>(count, 0)));
    if (count > 0) config->EnumParams(&count, ids.data());
    for (const GUID& id : ids) {
        ComPtr<IParamConfig> param;
        if (FAILED(config->GetParamConfig(&id, param.Put()))) continue;
        BSTR name = nullptr, meaning = nullptr;
        ScopedVariant value, text;
        param->GetName(&name);
        param->GetValue(value.get(), TRUE);
        VariantChangeType(text.get(), value.get(), 0, VT_BSTR);
        std::string line = Utf8FromBstr(name) + ": " + Utf8FromBstr(text->bstrVal);
        if (SUCCEEDED(param->ValueToText(value.get(), &meaning))) line += " (" + Utf8FromBstr(meaning) + ")";
        std::printf("%s\n", line.c_str());
        SysFreeString(name);
        SysFreeString(meaning);
    }
}

template <class Filter>
ComPtr<IBaseFilter> AsFilter(Filter* filter)
{
    ComPtr<IBaseFilter> result;
    filter->NonDelegatingQueryInterface(IID_IBaseFilter, result.PutVoid());
    return result;
}

IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Put());
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        pin->QueryDirection(&dir);
        if (dir == wanted) return pin;
        pin->Release();
    }
    return nullptr;
}

int Run(const CliOptions& o)
{
    ComPtr<IBaseFilter> scaler;
    Check(CreateInstanceFromLibrary(ExecutableDir() + "/filters/scalvo.ax", CLSID_TolvaneVideoScaler,
                                    IID_IBaseFilter, scaler.PutVoid()),
          "loading filters/scalvo.ax");
    ComPtr<IModuleConfig> config;
    Check(scaler.As(config), "IModuleConfig");
    Configure(config.Get(), o);

    std::vector<uint8_t> generated;
    if (o.bench || o.properties) {
        generated.resize(RawFrameBytes(o.in));
        std::mt19937 gen(1);
        for (auto& b : generated) b = uint8_t(gen());
    }
    auto* sourceObject = new CRawFrameSource(o.in, stdin, o.properties ? 1 : o.frames, generated);
    auto* sinkObject = new CRawFrameSink(o.out, o.bench || o.properties ? nullptr : stdout);
    ComPtr<IBaseFilter> source = AsFilter(sourceObject), sink = AsFilter(sinkObject);

    ComPtr<IGraphBuilder> graph;
    Check(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
          "creating the filter graph");
    Check(graph->AddFilter(source.Get(), u"Raw Source"), "adding the source");
    Check(graph->AddFilter(scaler.Get(), u"Resizer"), "adding the scaler");
    Check(graph->AddFilter(sink.Get(), u"Raw Sink"), "adding the sink");
    ComPtr<IPin> sourceOut = ComPtr<IPin>::Adopt(FirstPin(source.Get(), PINDIR_OUTPUT));
    ComPtr<IPin> scalerIn = ComPtr<IPin>::Adopt(FirstPin(scaler.Get(), PINDIR_INPUT));
    ComPtr<IPin> scalerOut = ComPtr<IPin>::Adopt(FirstPin(scaler.Get(), PINDIR_OUTPUT));
    ComPtr<IPin> sinkIn = ComPtr<IPin>::Adopt(FirstPin(sink.Get(), PINDIR_INPUT));
    Check(graph->ConnectDirect(sourceOut.Get(), scalerIn.Get(), nullptr), "connecting the source to the scaler");
    Check(graph->ConnectDirect(scalerOut.Get(), sinkIn.Get(), nullptr), "connecting the scaler to the sink");
    if (o.properties) {
        // The pages describe the connected input; the graph does not run.
        bool accepted = false;
        HRESULT hr = ShowPropertyPages(nullptr, u"Tolvane Video Scaler", scaler.Get(), &accepted);
        if (accepted) PrintParameters(config.Get());  // while the input is still connected
        for (IBaseFilter* f : {sink.Get(), scaler.Get(), source.Get()}) graph->RemoveFilter(f);
        Check(hr, "showing the property pages");
        return accepted ? 0 : 1;
    }

    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    Check(graph.As(control), "IMediaControl");
    Check(graph.As(events), "IMediaEvent");
    const auto start = std::chrono::steady_clock::now();
    Check(control->Run(), "running the graph");
    LONG code = 0;
    events->WaitForCompletion(LONG(INFINITE), &code);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    control->Stop();
    // Removing the filters disconnects them, so that connected pins hold no references that
    // would keep each other's filters alive after the graph is gone.
    for (IBaseFilter* f : {sink.Get(), scaler.Get(), source.Get()}) graph->RemoveFilter(f);
    if (o.bench) {
        const uint64_t frames = sinkObject->FramesReceived();
        std::printf("%llu frames in %.3f s: %.3f ms per frame, %.1f frames per second\n",
                    static_cast<unsigned long long>(frames), seconds, frames ? seconds * 1000 / frames : 0.0,
                    frames / seconds);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "scalvo-cli: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    std::unique_ptr<QApplication> application;
    if (options->properties) application = std::make_unique<QApplication>(argc, argv);
    try {
        return Run(*options);
    } catch (const Failure& failure) {
        return failure.Report();
    }
}
