// The scaler's property pages on the real filter: what Main shows for a connected input, the
// VBI rule, the keystroke filter, the variant types it sends, the refresh after Apply, and the
// frame showing both pages from the library.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <filesystem>

#include "com/plugin.h"
#include "dshow/control.h"
#include "dshow/uuids.h"
#include "filter/vs_filter.h"
#include "interfaces/module_config.h"
#include "page_harness.h"
#include "pages/main_page_rules.h"
#include "propframe/property_frame.h"
#include "raw_frames.h"

namespace {

const std::string kLibrary = std::string(VELTRO_BIN_DIR) + "/filters/scalvo.ax";

// Passes everything to the filter's IModuleConfig and records what the page sets.
class RecordingConfig final : public ComObject<IModuleConfig> {
public:
    explicit RecordingConfig(IModuleConfig* inner) : inner_(inner) {}
    struct Sent {
        GUID id;
        VARTYPE vt;
        double value;
    };
    std::vector<Sent> sent;
    int commits = 0;

    HRESULT STDMETHODCALLTYPE SetValue(const GUID* id, const VARIANT* value) override
    {
        VARIANT r8;
        VariantInit(&r8);
        VariantChangeType(&r8, value, 0, VT_R8);
        sent.push_back({*id, value->vt, value->vt == VT_BOOL ? double(value->boolVal) : r8.dblVal});
        return inner_->SetValue(id, value);
    }
    HRESULT STDMETHODCALLTYPE CommitChanges(VARIANT* reserved) override
    {
        ++commits;
        return inner_->CommitChanges(reserved);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* c) override { return inner_->GetClassID(c); }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return inner_->IsDirty(); }
    HRESULT STDMETHODCALLTYPE Load(IStream* s) override { return inner_->Load(s); }
    HRESULT STDMETHODCALLTYPE Save(IStream* s, BOOL c) override { return inner_->Save(s, c); }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* s) override { return inner_->GetSizeMax(s); }
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* id, VARIANT* v) override { return inner_->GetValue(id, v); }
    HRESULT STDMETHODCALLTYPE GetParamConfig(const GUID* id, IParamConfig** p) override
    {
        return inner_->GetParamConfig(id, p);
    }
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* id) override { return inner_->IsSupported(id); }
    HRESULT STDMETHODCALLTYPE ResetToDefaults() override { return inner_->ResetToDefaults(); }
    HRESULT STDMETHODCALLTYPE EnumParams(LONG* n, GUID* ids) override { return inner_->EnumParams(n, ids); }
    HRESULT STDMETHODCALLTYPE DeclineChanges() override { return inner_->DeclineChanges(); }
    HRESULT STDMETHODCALLTYPE SaveToRegistry(HKEY r, const WCHAR* k, BOOL p) override
    {
        return inner_->SaveToRegistry(r, k, p);
    }
    HRESULT STDMETHODCALLTYPE LoadFromRegistry(HKEY r, const WCHAR* k, BOOL p) override
    {
        return inner_->LoadFromRegistry(r, k, p);
    }
    HRESULT STDMETHODCALLTYPE AddNotifySink(IModuleCallback* s) override { return inner_->AddNotifySink(s); }
    HRESULT STDMETHODCALLTYPE RemoveNotifySink(IModuleCallback* s) override { return inner_->RemoveNotifySink(s); }

private:
    ComPtr<IModuleConfig> inner_;
};

class ScalerPages : public testing::Test {
protected:
    ScalerPages()
    {
        dir = std::filesystem::temp_directory_path() / ("scalvo-pages-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        setenv("VELTRO_REGISTRY_DIR", dir.c_str(), 1);
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        EXPECT_EQ(CreateInstanceFromLibrary(kLibrary, CLSID_TolvaneVideoScaler, IID_IBaseFilter, filter.PutVoid()), S_OK);
        filter.As(config);
    }
    ~ScalerPages() override
    {
        if (graph) {
            graph->RemoveFilter(source.Get());
            graph->RemoveFilter(filter.Get());
        }
        std::filesystem::remove_all(dir);
    }

    // A YUY2 source of the given size connected to the scaler's input.
    void ConnectSource(uint32_t width, uint32_t height)
    {
        auto* raw = new CRawFrameSource({PixelFormat::YUY2, width, height}, nullptr, 1,
                                        std::vector<uint8_t>(width * height * 2));
        raw->NonDelegatingQueryInterface(IID_IBaseFilter, source.PutVoid());
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.PutVoid()),
                  S_OK);
        graph->AddFilter(source.Get(), u"Source");
        graph->AddFilter(filter.Get(), u"Resizer");
        IPin *out = nullptr, *in = nullptr;
        source->FindPin(u"Out", &out);
        filter->FindPin(u"In", &in);
        ASSERT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
    }

    static ComPtr<IPropertyPage> Page(const CLSID& clsid)
    {
        ComPtr<IPropertyPage> page;
        EXPECT_EQ(CreateInstanceFromLibrary(kLibrary, clsid, IID_IPropertyPage, page.PutVoid()), S_OK);
        return page;
    }
    double Applied(const GUID& id)
    {
        ScopedVariant v, r8;
        config->GetValue(&id, v.get());
        VariantChangeType(r8.get(), v.get(), 0, VT_R8);
        return r8->dblVal;
    }

    std::filesystem::path dir;
    ComPtr<IBaseFilter> filter, source;
    ComPtr<IModuleConfig> config;
    ComPtr<IGraphBuilder> graph;
};

QStringList Items(QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

QStringList InformationLines(const HostedPage& page)
{
    QStringList lines;
    for (int i = 1; i <= 5; ++i) lines << page.Find<QLabel>(QString("InputInfo%1").arg(i).toUtf8())->text();
    return lines;
}

TEST(MainPageRules, VbiAvailabilityKeystrokesAndNumbers)
{
    EXPECT_EQ(VbiAvailability(720, 576, true, 720, 608), 2);  // "Do not use" and "Add"
    EXPECT_EQ(VbiAvailability(720, 608, false, 0, 0), 3);
    EXPECT_EQ(VbiAvailability(720, 512, true, 640, 480), 1);   // "Do not use" and "Remove"
    EXPECT_EQ(VbiAvailability(720, 608, true, 720, 512), 3);
    EXPECT_EQ(VbiAvailability(720, 576, false, 720, 608), 0);  // resizing off: the target size does not count

    EXPECT_TRUE(AcceptableNumberText("19999", false));
    EXPECT_FALSE(AcceptableNumberText("25000", false));
    EXPECT_FALSE(AcceptableNumberText("123456", false));
    EXPECT_TRUE(AcceptableNumberText("2.35", true));
    EXPECT_FALSE(AcceptableNumberText("2.35", false));
    EXPECT_FALSE(AcceptableNumberText("1.2.3", true));
    EXPECT_FALSE(AcceptableNumberText("-5", true));

    EXPECT_DOUBLE_EQ(ParseNumber("2.35"), 2.35);
    EXPECT_DOUBLE_EQ(ParseNumber("-12"), -12);
    EXPECT_DOUBLE_EQ(ParseNumber("1-2"), 12);  // a minus sign counts only in front
    EXPECT_DOUBLE_EQ(ParseNumber(""), 0);
}

TEST_F(ScalerPages, InformationLinesDescribeTheConnectedInput)
{
    {
        HostedPage page;
        ASSERT_EQ(page.Open(Page(CLSID_ScalvoMainPage).Get(), filter.Get()), S_OK);
        EXPECT_EQ(InformationLines(page), (QStringList{"Resolution:           N/A", "Aspect Ratio:         N/A",
                                                       "Stream Type:         N/A", "VBI Info Presence: N/A",
                                                       "Media Subtype:     N/A"}));
    }
    ConnectSource(720, 576);
    HostedPage page;
    ASSERT_EQ(page.Open(Page(CLSID_ScalvoMainPage).Get(), filter.Get()), S_OK);
    const QString aspect = QString("Aspect Ratio:      %1x%2")
                               .arg(Applied(SCALVO_PARAM_SOURCE_AR_WIDTH))
                               .arg(Applied(SCALVO_PARAM_SOURCE_AR_HEIGHT));
    EXPECT_EQ(InformationLines(page), (QStringList{"Resolution:      720x576", aspect, "Stream Type:   Progressive",
                                                   "VBI Info Presence:  No", "Media Subtype:   YUY2"}));
}

TEST_F(ScalerPages, VbiListFollowsTheResizeChoice)
{
    ConnectSource(720, 576);
    HostedPage page;
    ASSERT_EQ(page.Open(Page(CLSID_ScalvoMainPage).Get(), filter.Get()), S_OK);
    auto* vbi = page.Find<QComboBox>("VBIInformation");
    EXPECT_FALSE(vbi->isEnabled());
    page.Find<QCheckBox>("ResizeFrame")->setChecked(true);
    auto* resolution = page.Find<QComboBox>("StandardResolution");
    EXPECT_EQ(resolution->itemText(resolution->count() - 1), "Custom");
    resolution->setCurrentText("720x608");
    EXPECT_TRUE(vbi->isEnabled());
    EXPECT_EQ(Items(vbi), (QStringList{"Do not use", "Add"}));
    EXPECT_FALSE(page.Find<QLineEdit>("CustomWidth")->isEnabled());  // a preset, not custom numbers
    resolution->setCurrentText("720x576");
    EXPECT_FALSE(vbi->isEnabled());
}

TEST_F(ScalerPages, ApplySendsTheVariantTypesAndBothNumbersOfAPreset)
{
    auto recorder = ComPtr<RecordingConfig>::Adopt(new RecordingConfig(config.Get()));
    HostedPage page;
    ASSERT_EQ(page.Open(Page(CLSID_ScalvoMainPage).Get(), recorder.Get()), S_OK);
    auto* arPreset = page.Find<QComboBox>("StandardAR");
    auto* arWidth = page.Find<QLineEdit>("CustomARWidth");
    page.Find<QCheckBox>("ChangeAspectRatio")->setChecked(true);
    arPreset->setCurrentText("Custom");
    arWidth->clear();
    Type(arWidth, "25000");
    EXPECT_EQ(arWidth->text(), "2500");  // a fifth digit only after a leading 1
    EXPECT_EQ(page.Site()->dirtyCalls, 1);
    arPreset->setCurrentText("16:9");
    page.Find<QComboBox>("ScalingMethod")->setCurrentText("Lanczos");
    page.Find<QCheckBox>("EnableColorSpaceConversion")->setChecked(false);

    recorder->sent.clear();
    ASSERT_EQ(page.Apply(), S_OK);
    std::map<GUID, std::pair<VARTYPE, double>> sent;
    for (auto& s : recorder->sent) sent[s.id] = {s.vt, s.value};
    EXPECT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[SCALVO_PARAM_AR_CHANGE_STATE], std::make_pair(VARTYPE(VT_BOOL), 1.0));
    EXPECT_EQ(sent[SCALVO_PARAM_TARGET_AR_WIDTH], std::make_pair(VARTYPE(VT_R8), 16.0));
    EXPECT_EQ(sent[SCALVO_PARAM_TARGET_AR_HEIGHT], std::make_pair(VARTYPE(VT_R8), 9.0));
    EXPECT_EQ(sent[SCALVO_PARAM_RESIZING_METHOD], std::make_pair(VARTYPE(VT_UINT), 2.0));
    EXPECT_EQ(sent[SCALVO_PARAM_COLOR_CONVERSION], std::make_pair(VARTYPE(VT_BOOL), 0.0));
    EXPECT_EQ(recorder->commits, 1);
    EXPECT_EQ(Applied(SCALVO_PARAM_TARGET_AR_WIDTH), 16.0);
    EXPECT_EQ(Applied(SCALVO_PARAM_TARGET_AR_HEIGHT), 9.0);
}

TEST_F(ScalerPages, ApplyShowsWhatTheFilterAppliedAndReportsARefusal)
{
    HostedPage page;
    ASSERT_EQ(page.Open(Page(CLSID_ScalvoMainPage).Get(), filter.Get()), S_OK);
    page.Find<QCheckBox>("ResizeFrame")->setChecked(true);
    page.Find<QComboBox>("StandardResolution")->setCurrentText("Custom");
    auto* width = page.Find<QLineEdit>("CustomWidth");
    auto* height = page.Find<QLineEdit>("CustomHeight");
    width->clear();
    Type(width, "721");
    height->clear();
    Type(height, "405");
    ASSERT_EQ(page.Apply(), S_OK);
    EXPECT_EQ(width->text(), "720");  // made even by the filter
    EXPECT_EQ(height->text(), "404");

    width->clear();
    Type(width, "19999");  // passes the keystroke filter, beyond the filter's 16384
    EXPECT_EQ(page.Apply(), E_INVALIDARG);
    EXPECT_EQ(width->text(), "720");
    EXPECT_EQ(Applied(SCALVO_PARAM_RESIZED_WIDTH), 720);
    EXPECT_EQ(page.Dirty(), S_FALSE);
}

TEST_F(ScalerPages, MainNeedsModuleConfigAndTheFrameShowsAboutThenMain)
{
    auto plain = ComPtr<IUnknown>::Adopt(new ComObject<IUnknown>);
    HostedPage refused;
    EXPECT_EQ(refused.Open(Page(CLSID_ScalvoMainPage).Get(), plain.Get()), E_NOINTERFACE);

    TestApplication();
    QStringList tabs;
    QString about, result;
    WhenFrameShows([&](QDialog* frame) {
        auto* tabWidget = frame->findChild<QTabWidget*>();
        for (int i = 0; i < tabWidget->count(); ++i) tabs << tabWidget->tabText(i);
        about = frame->findChild<QLabel*>("FilterName")->text();
        tabWidget->setCurrentIndex(1);
        auto* apply = frame->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply);
        EXPECT_FALSE(apply->isEnabled());
        frame->findChild<QCheckBox*>("ResizeFrame")->setChecked(true);
        frame->findChild<QComboBox*>("StandardResolution")->setCurrentText("Custom");
        auto* width = frame->findChild<QLineEdit*>("CustomWidth");
        width->clear();
        Type(width, "19999");
        EXPECT_TRUE(apply->isEnabled());
        apply->click();
        result = frame->findChild<QLabel*>("ApplyResult")->text();
        EXPECT_FALSE(apply->isEnabled());
        PressFrameButton(frame, QDialogButtonBox::Ok);
    });
    bool accepted = false;
    ASSERT_EQ(ShowPropertyPages(nullptr, u"Resizer", filter.Get(), &accepted), S_OK);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(tabs, (QStringList{"About", "Main"}));
    EXPECT_EQ(about, "Tolvane Video Scaler");
    EXPECT_TRUE(result.contains("0x80070057")) << result.toStdString();
}

}  // namespace
