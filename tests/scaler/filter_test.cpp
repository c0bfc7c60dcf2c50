#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "com/plugin.h"
#include "com/taskmem.h"
#include "dshow/control.h"
#include "dshow/amalloc.h"
#include "dshow/uuids.h"
#include "filter/vs_filter.h"
#include "interfaces/module_config.h"
#include "raw_frames.h"

namespace {

const std::string kLibrary = std::string(VELTRO_BIN_DIR) + "/filters/scalvo.ax";

class ScalerFilter : public testing::Test {
protected:
    ScalerFilter()
    {
        dir = std::filesystem::temp_directory_path() / ("scalvo-filter-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("VELTRO_REGISTRY_DIR", dir.c_str(), 1);
        filter = Create();
        filter.As(config);
    }
    ~ScalerFilter() override { std::filesystem::remove_all(dir); }

    static ComPtr<IBaseFilter> Create()
    {
        ComPtr<IBaseFilter> f;
        EXPECT_EQ(CreateInstanceFromLibrary(kLibrary, CLSID_TolvaneVideoScaler, IID_IBaseFilter, f.PutVoid()), S_OK);
        return f;
    }
    HRESULT SetI4(const GUID& id, LONG value)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return config->SetValue(&id, &v);
    }
    VARIANT Get(const GUID& id)
    {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(config->GetValue(&id, &v), S_OK);
        return v;
    }
    // The host's ConfigureScaler sequence: 32-bit integers, the width coefficient as text.
    void ConfigureLikeTheHost(LONG width, LONG height)
    {
        EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZING_STATE, 1), S_OK);
        EXPECT_EQ(SetI4(SCALVO_PARAM_AR_CHANGE_STATE, 1), S_OK);
        VARIANT text;
        VariantInit(&text);
        text.vt = VT_BSTR;
        text.bstrVal = SysAllocStringUtf8("16");
        EXPECT_EQ(config->SetValue(&SCALVO_PARAM_TARGET_AR_WIDTH, &text), S_OK);
        VariantClear(&text);
        EXPECT_EQ(SetI4(SCALVO_PARAM_TARGET_AR_HEIGHT, 9), S_OK);
        EXPECT_EQ(SetI4(SCALVO_PARAM_AR_METHOD, 2), S_OK);
        EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZED_HEIGHT, height), S_OK);
        EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZED_WIDTH, width), S_OK);
        EXPECT_EQ(config->CommitChanges(nullptr), S_OK);
    }

    std::filesystem::path dir;
    ComPtr<IBaseFilter> filter;
    ComPtr<IModuleConfig> config;
};

IPin* PinOf(IBaseFilter* filter, const char16_t* id)
{
    IPin* pin = nullptr;
    filter->FindPin(id, &pin);
    return pin;
}

TEST_F(ScalerFilter, HostSequenceThenConnectionOffersTheResizedSixteenNineType)
{
    ASSERT_TRUE(config);
    ConfigureLikeTheHost(721, 405);
    VARIANT on = Get(SCALVO_PARAM_RESIZING_STATE);
    EXPECT_EQ(on.vt, VT_I2);
    EXPECT_EQ(on.iVal, 1);  // stored as given; any non-zero value is on
    EXPECT_EQ(Get(SCALVO_PARAM_TARGET_AR_WIDTH).dblVal, 16.0);
    EXPECT_EQ(Get(SCALVO_PARAM_RESIZED_WIDTH).uiVal, 720);  // made even
    EXPECT_EQ(Get(SCALVO_PARAM_RESIZED_HEIGHT).uiVal, 404);

    auto* source = new CRawFrameSource({PixelFormat::YUY2, 640, 480}, nullptr, 1, std::vector<uint8_t>(640 * 480 * 2));
    ComPtr<IBaseFilter> sourceFilter;
    source->NonDelegatingQueryInterface(IID_IBaseFilter, sourceFilter.PutVoid());
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(filter.Get(), u"Resizer");
    ComPtr<IPin> out = ComPtr<IPin>::Adopt(PinOf(sourceFilter.Get(), u"Out"));
    ComPtr<IPin> in = ComPtr<IPin>::Adopt(PinOf(filter.Get(), u"In"));
    ComPtr<IPin> scaled = ComPtr<IPin>::Adopt(PinOf(filter.Get(), u"Out"));
    ASSERT_TRUE(out && in && scaled);
    ASSERT_EQ(graph->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);

    EXPECT_EQ(Get(SCALVO_PARAM_SOURCE_FRAME_WIDTH).uiVal, 640);
    EXPECT_EQ(Get(SCALVO_PARAM_SOURCE_SUBTYPE).uiVal, 1);  // YUY2
    EXPECT_EQ(Get(SCALVO_PARAM_SOURCE_AR_WIDTH).uiVal, 4);
    EXPECT_EQ(Get(SCALVO_PARAM_SOURCE_AR_HEIGHT).uiVal, 3);

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(scaled->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    ASSERT_EQ(types->Next(1, &first, nullptr), S_OK);
    const VIDEOINFOHEADER2* vih = GetVideoInfoHeader2(*first);
    ASSERT_NE(vih, nullptr);
    EXPECT_EQ(first->subtype, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(vih->bmiHeader.biWidth, 720);
    EXPECT_EQ(vih->bmiHeader.biHeight, 404);
    EXPECT_EQ(vih->dwPictAspectRatioX, 16u);
    EXPECT_EQ(vih->dwPictAspectRatioY, 9u);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 720u * 404 * 2);
    EXPECT_EQ(vih->dwBitRate, 720u * 404 * 2 * 200);  // 25 frames of image size, in bits
    DeleteMediaType(first);
    // Every format of the YUY2 conversion row, both block kinds except YV16's VideoInfo.
    ULONG count = 1;
    while (types->Next(1, &first, nullptr) == S_OK) {
        ++count;
        DeleteMediaType(first);
    }
    EXPECT_EQ(count, 13u);
    graph->RemoveFilter(sourceFilter.Get());
    graph->RemoveFilter(filter.Get());
}

TEST_F(ScalerFilter, RefusesWhatTheParameterRulesRefuse)
{
    EXPECT_EQ(SetI4(SCALVO_PARAM_SOURCE_FRAME_WIDTH, 100), E_ACCESSDENIED);
    EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZING_METHOD, 3), E_INVALIDARG);
    EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZED_WIDTH, 16385), E_INVALIDARG);
    // A crop of 3 is applied as 2; a target coefficient of 0 makes both 1.
    EXPECT_EQ(SetI4(SCALVO_PARAM_LEFT_CROPPING, 3), S_OK);
    EXPECT_EQ(SetI4(SCALVO_PARAM_TARGET_AR_WIDTH, 0), S_OK);
    EXPECT_EQ(config->CommitChanges(nullptr), S_OK);
    EXPECT_EQ(Get(SCALVO_PARAM_LEFT_CROPPING).uiVal, 2);
    EXPECT_EQ(Get(SCALVO_PARAM_TARGET_AR_WIDTH).dblVal, 1.0);
    // An affinity mask beyond the process's processors is kept at its old value silently.
    VARIANT mask;
    VariantInit(&mask);
    mask.vt = VT_UI4;
    mask.ulVal = 0xFFFFFFFF;
    EXPECT_EQ(config->SetValue(&SCALVO_PARAM_AFFINITY_MASK, &mask), S_OK);
    EXPECT_EQ(config->CommitChanges(nullptr), S_OK);
    EXPECT_EQ(Get(SCALVO_PARAM_AFFINITY_MASK).ulVal, 0u);
    LONG count = 0;
    EXPECT_EQ(config->EnumParams(&count, nullptr), S_FALSE);
    EXPECT_EQ(count, 23);
}

HRESULT ApplyNow(IModuleConfig* config, const GUID& id, VARIANT v)
{
    ComPtr<IParamConfig> param;
    config->GetParamConfig(&id, param.Put());
    return param->SetValue(&v, TRUE);
}

VARIANT Ui4(ULONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = value;
    return v;
}

// A running 720x576 YUY2 graph that delivered one frame, with the scaler object itself at hand.
TEST_F(ScalerFilter, RefusedChangesLeaveTypesAndValuesAsTheyWere)
{
    HRESULT hr = S_OK;
    auto* scaler = static_cast<CVS_Filter*>(CVS_Filter::CreateInstance(nullptr, &hr));
    ComPtr<IBaseFilter> resizer;
    scaler->NonDelegatingQueryInterface(IID_IBaseFilter, resizer.PutVoid());
    resizer.As(config);  // Get() reads this object from here on
    IModuleConfig* cfg = config.Get();
    const RawFormat format{PixelFormat::YUY2, 720, 576};
    auto* sourceObject = new CRawFrameSource(format, nullptr, 1, std::vector<uint8_t>(RawFrameBytes(format), 0x80));
    auto* sinkObject = new CRawFrameSink(format, nullptr);
    ComPtr<IBaseFilter> source, sink;
    sourceObject->NonDelegatingQueryInterface(IID_IBaseFilter, source.PutVoid());
    sinkObject->NonDelegatingQueryInterface(IID_IBaseFilter, sink.PutVoid());
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    for (auto [f, name] : {std::pair{source.Get(), u"Source"}, {resizer.Get(), u"Resizer"}, {sink.Get(), u"Sink"}})
        graph->AddFilter(f, name);
    ComPtr<IPin> out = ComPtr<IPin>::Adopt(PinOf(source.Get(), u"Out"));
    ComPtr<IPin> in = ComPtr<IPin>::Adopt(PinOf(resizer.Get(), u"In"));
    ComPtr<IPin> scaled = ComPtr<IPin>::Adopt(PinOf(resizer.Get(), u"Out"));
    ComPtr<IPin> sinkIn = ComPtr<IPin>::Adopt(PinOf(sink.Get(), u"In"));
    ASSERT_EQ(graph->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(scaled.Get(), sinkIn.Get(), nullptr), S_OK);

    // VBI copy needs 720x608 or 720x512; a mask beyond this process's processors is ignored.
    VARIANT copy = Ui4(3);
    copy.vt = VT_UINT;
    EXPECT_EQ(ApplyNow(cfg, SCALVO_PARAM_VBI_MODE, copy), E_INVALIDARG);
    EXPECT_EQ(Get(SCALVO_PARAM_VBI_MODE).uintVal, 0u);
    EXPECT_EQ(ApplyNow(cfg, SCALVO_PARAM_AFFINITY_MASK, Ui4(0xFFFFFFF0)), S_OK);
    EXPECT_EQ(Get(SCALVO_PARAM_AFFINITY_MASK).ulVal, 0u);

    ComPtr<IMediaControl> control;
    graph.As(control);
    control->Run();
    for (int i = 0; i < 500 && sinkObject->FramesReceived() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(sinkObject->FramesReceived(), 1u);
    const CMediaType sourceType = RawMediaType(format, 400000);
    EXPECT_EQ(in->ReceiveConnection(out.Get(), &sourceType), VFW_E_NOT_STOPPED);

    // A sample with a type the sink refuses: refused, and the next full-size frame still fits.
    ComPtr<IMemInputPin> input;
    in.As(input);
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(input->GetAllocator(allocator.Put()), S_OK);
    auto deliver = [&](const AM_MEDIA_TYPE* type) {
        ComPtr<IMediaSample> sample;
        EXPECT_EQ(allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0), S_OK);
        sample->SetActualDataLength(LONG(RawFrameBytes(format)));
        if (type) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(type));
        return input->Receive(sample.Get());
    };
    const CMediaType wide = RawMediaType({PixelFormat::YUY2, 1440, 200}, 400000);
    EXPECT_EQ(deliver(&wide), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(Get(SCALVO_PARAM_SOURCE_FRAME_WIDTH).uiVal, 720);
    AM_MEDIA_TYPE current{};
    in->ConnectionMediaType(&current);
    EXPECT_EQ(GetBitmapInfoHeader(current)->biHeight, 576);
    FreeMediaType(current);
    EXPECT_EQ(deliver(nullptr), S_OK);
    EXPECT_EQ(sinkObject->FramesReceived(), 2u);

    // An output sample carrying a type that is no video picture is refused, not read.
    CMemAllocator* pool = new CMemAllocator();
    ComPtr<IMemAllocator> own;
    pool->NonDelegatingQueryInterface(IID_IMemAllocator, own.PutVoid());
    ALLOCATOR_PROPERTIES props{2, LONG(RawFrameBytes(format)), 1, 0}, actual{};
    own->SetProperties(&props, &actual);
    own->Commit();
    ComPtr<IMediaSample> frame, target;
    own->GetBuffer(frame.Put(), nullptr, nullptr, 0);
    own->GetBuffer(target.Put(), nullptr, nullptr, 0);
    frame->SetActualDataLength(LONG(RawFrameBytes(format)));
    CMediaType audio;
    audio.majortype = MEDIATYPE_Audio;
    audio.formattype = FORMAT_WaveFormatEx;
    target->SetMediaType(&audio);
    EXPECT_EQ(scaler->Transform(frame.Get(), target.Get()), VFW_E_TYPE_NOT_ACCEPTED);
    frame.Reset();
    target.Reset();
    own->Decommit();

    // Paused, no change is applied.
    control->Pause();
    VARIANT lanczos = Ui4(2);
    lanczos.vt = VT_UINT;
    EXPECT_EQ(ApplyNow(cfg, SCALVO_PARAM_RESIZING_METHOD, lanczos), VFW_E_WRONG_STATE);
    EXPECT_EQ(Get(SCALVO_PARAM_RESIZING_METHOD).uintVal, 1u);
    control->Stop();
    for (IBaseFilter* f : {sink.Get(), resizer.Get(), source.Get()}) graph->RemoveFilter(f);
}

TEST_F(ScalerFilter, SettingsPersistPerHostProgram)
{
    ConfigureLikeTheHost(1280, 720);
    EXPECT_EQ(SetI4(SCALVO_PARAM_RESIZING_METHOD, 2), S_OK);
    EXPECT_EQ(config->CommitChanges(nullptr), S_OK);
    config.Reset();
    filter.Reset();  // saved on destruction

    HKEY key = nullptr;
    const std::string path = "Software\\Tolvane\\Tolvane Video Scaler\\" +
                             std::filesystem::read_symlink("/proc/self/exe").filename().string();
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "SaveToRegistry", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    RegCloseKey(key);

    filter = Create();
    filter.As(config);
    EXPECT_EQ(Get(SCALVO_PARAM_RESIZING_METHOD).uintVal, 2u);
    EXPECT_EQ(Get(SCALVO_PARAM_RESIZED_WIDTH).uiVal, 1280);
    EXPECT_EQ(Get(SCALVO_PARAM_TARGET_AR_HEIGHT).dblVal, 9.0);
}

TEST_F(ScalerFilter, LibraryServesThreeClasses)
{
    DllGetClassObjectFn entry = LoadClassObjectEntry(kLibrary);
    ASSERT_NE(entry, nullptr);
    const CLSID pages[] = {{0xE60D7444, 0x96BF, 0x4181, {0xB1, 0xDB, 0x80, 0xD3, 0x4A, 0xAC, 0x9C, 0xB2}},
                           {0x41E18105, 0x39AC, 0x4D60, {0x9C, 0x1D, 0x48, 0xA2, 0xAD, 0x10, 0x48, 0xC5}}};
    for (const CLSID& clsid : pages) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(entry(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    }
    ComPtr<IClassFactory> none;
    EXPECT_EQ(entry(GUID_NULL, IID_IClassFactory, none.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(filter.As(specify), S_OK);
    CAUUID list{};
    ASSERT_EQ(specify->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 2u);
    EXPECT_EQ(list.pElems[0], pages[0]);
    EXPECT_EQ(list.pElems[1], pages[1]);
    CoTaskMemFree(list.pElems);
}

}  // namespace
