#include <gtest/gtest.h>

#include <thread>

#include "test_module.h"

namespace {

class Params : public testing::Test {
protected:
    Params() : owner(new TestOwner), m(owner->module) {}
    ~Params() override { owner->Release(); }

    HRESULT Set(const GUID& id, VARIANT v) { return m.SetValue(&id, &v); }
    static VARIANT I4(LONG value)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    TestOwner* owner;
    TestModule& m;
};

TEST_F(Params, PendingUntilCommittedThenOneChangeSetAndOneNotification)
{
    RecordingSink sink, other;
    m.AddNotifySink(&sink);
    m.AddNotifySink(&other);
    ASSERT_EQ(Set(kWidthId, I4(721)), S_OK);
    ASSERT_EQ(Set(kFlagId, I4(1)), S_OK);
    EXPECT_EQ(m.Config().width, 0);
    EXPECT_TRUE(m.changeSets.empty());
    ASSERT_EQ(m.CommitChanges(nullptr), S_OK);
    EXPECT_EQ(m.Config().width, 721);
    EXPECT_EQ(m.Config().flag, 1);  // a boolean stores what it is given
    // The read-only parameter is always part of a commit.
    const std::vector<GUID> expected{kWidthId, kFlagId, kSourceId};
    ASSERT_EQ(m.changeSets.size(), 1u);
    EXPECT_EQ(m.changeSets[0], expected);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0], expected);
    EXPECT_EQ(other.calls.size(), 1u);
    // Nothing is pending any more.
    m.CommitChanges(nullptr);
    EXPECT_EQ(m.changeSets[1], std::vector<GUID>{kSourceId});
    m.RemoveNotifySink(&sink);
    m.CommitChanges(nullptr);
    EXPECT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(other.calls.size(), 3u);
}

TEST_F(Params, DeclineKeepsTheAppliedValue)
{
    Set(kWidthId, I4(100));
    ASSERT_EQ(m.DeclineChanges(), S_OK);
    EXPECT_EQ(m.Config().width, 0);
    EXPECT_EQ(m.changeSets.back(), std::vector<GUID>{kWidthId});
    ScopedVariant pending;
    ComPtr<IParamConfig> param;
    ASSERT_EQ(m.GetParamConfig(&kWidthId, param.Put()), S_OK);
    param->GetValue(pending.get(), FALSE);
    EXPECT_EQ(pending->uiVal, 0);
}

TEST_F(Params, FailingHookKeepsChangesPendingAndTellsNoSink)
{
    RecordingSink sink;
    m.AddNotifySink(&sink);
    Set(kWidthId, I4(64));
    m.hookResult = VFW_E_WRONG_STATE;
    EXPECT_EQ(m.CommitChanges(nullptr), VFW_E_WRONG_STATE);
    EXPECT_TRUE(sink.calls.empty());
    m.hookResult = S_OK;
    EXPECT_EQ(m.CommitChanges(nullptr), S_OK);
    EXPECT_EQ(m.Config().width, 64);

    // Applied at once and refused: the live value stays as it was.
    ComPtr<IParamConfig> param;
    ASSERT_EQ(m.GetParamConfig(&kWidthId, param.Put()), S_OK);
    VARIANT v = I4(80);
    m.hookResult = E_INVALIDARG;
    EXPECT_EQ(param->SetValue(&v, TRUE), E_INVALIDARG);
    EXPECT_EQ(m.Config().width, 64);
    EXPECT_EQ(sink.calls.size(), 1u);
}

// The host's thread commits while a property page's reads and watches (run under the thread
// sanitizer to see a race).
TEST_F(Params, HostAndPageThreadsShareValuesAndSinks)
{
    EXPECT_EQ(m.AddNotifySink(nullptr), E_POINTER);
    RecordingSink pageSink;  // outlives the commits that may still be telling it
    std::thread page([this, &sink = pageSink] {
        for (int i = 0; i < 2000; ++i) {
            m.AddNotifySink(&sink);
            ScopedVariant value;
            m.GetValue(&kWidthId, value.get());
            m.RemoveNotifySink(&sink);
        }
    });
    RecordingSink host;
    m.AddNotifySink(&host);
    for (int i = 0; i < 2000; ++i) {
        Set(kWidthId, I4(i % 100));
        m.CommitChanges(nullptr);
    }
    page.join();
    EXPECT_EQ(host.calls.size(), 2000u);
}

TEST_F(Params, RefusalsFollowTheParameterRules)
{
    const GUID unknown = {9, 9, 9, {9}};
    EXPECT_EQ(Set(unknown, I4(1)), E_UNEXPECTED);
    EXPECT_EQ(Set(kSourceId, I4(1)), E_ACCESSDENIED);
    EXPECT_EQ(Set(kMethodId, I4(3)), E_INVALIDARG);
    EXPECT_EQ(Set(kWidthId, I4(-1)), E_INVALIDARG);
    EXPECT_EQ(Set(kMaskId, I4(-1)), DISP_E_OVERFLOW);  // no validator: the conversion error
    EXPECT_EQ(m.SetValue(nullptr, nullptr), E_POINTER);
    ScopedVariant out;
    EXPECT_EQ(m.GetValue(&unknown, out.get()), E_INVALIDARG);
    EXPECT_EQ(m.IsSupported(&unknown), S_FALSE);
    EXPECT_EQ(m.IsSupported(&kFlagId), S_OK);
    IParamConfig* config = reinterpret_cast<IParamConfig*>(1);
    EXPECT_EQ(m.GetParamConfig(&unknown, &config), E_INVALIDARG);
    EXPECT_EQ(config, nullptr);
}

TEST_F(Params, TextValuesConvertToTheParameterType)
{
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringUtf8("16");
    ASSERT_EQ(m.SetValue(&kRatioId, &text), S_OK);
    EXPECT_EQ(text.vt, VT_BSTR);  // the caller's variant is left to the caller
    VariantClear(&text);
    m.CommitChanges(nullptr);
    EXPECT_EQ(m.Config().ratio, 16.0);
}

TEST_F(Params, ApplyNowCommitsOneId)
{
    ComPtr<IParamConfig> param;
    ASSERT_EQ(m.GetParamConfig(&kMethodId, param.Put()), S_OK);
    VARIANT v = I4(2);
    ASSERT_EQ(param->SetValue(&v, TRUE), S_OK);
    EXPECT_EQ(v.vt, VT_UINT);  // converted in place
    EXPECT_EQ(m.Config().method, 2u);
    EXPECT_EQ(m.changeSets.back(), std::vector<GUID>{kMethodId});
}

TEST_F(Params, EnumerationAndResetToDefaults)
{
    LONG count = 0;
    EXPECT_EQ(m.EnumParams(&count, nullptr), S_FALSE);
    EXPECT_EQ(count, 6);
    GUID ids[6];
    count = 3;
    EXPECT_EQ(m.EnumParams(&count, ids), S_FALSE);
    count = 6;
    ASSERT_EQ(m.EnumParams(&count, ids), S_OK);
    EXPECT_EQ(ids[0], kWidthId);
    EXPECT_EQ(ids[5], kSourceId);

    Set(kMethodId, I4(2));
    m.CommitChanges(nullptr);
    ASSERT_EQ(m.ResetToDefaults(), S_OK);
    EXPECT_EQ(m.Config().method, 1u);
    EXPECT_EQ(m.changeSets.back().size(), 5u);  // every writable parameter
}

TEST_F(Params, ValidValuesAndTexts)
{
    ComPtr<IParamConfig> method, width;
    m.GetParamConfig(&kMethodId, method.Put());
    m.GetParamConfig(&kWidthId, width.Put());
    LONG count = 0;
    EXPECT_EQ(method->ListValidValues(&count, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(count, 3);
    VARIANT values[2];
    BSTR meanings[2];
    count = 2;
    ASSERT_EQ(method->ListValidValues(&count, values, meanings), S_OK);
    EXPECT_EQ(Utf8FromBstr(meanings[1]), "Precise");
    for (BSTR b : meanings) SysFreeString(b);
    EXPECT_EQ(width->ListValidValues(&count, nullptr, nullptr), E_UNEXPECTED);
    EXPECT_EQ(count, 0);

    VARIANT one = I4(1);
    BSTR text = nullptr;
    ASSERT_EQ(method->ValueToText(&one, &text), S_OK);
    EXPECT_EQ(Utf8FromBstr(text), "Precise too");  // the later of two entries
    SysFreeString(text);
    VARIANT seven = I4(7);
    EXPECT_EQ(method->ValueToText(&seven, &text), E_UNEXPECTED);

    BSTR sharp = SysAllocStringUtf8("Sharp");
    ScopedVariant value;
    ASSERT_EQ(method->TextToValue(sharp, value.get()), S_OK);
    EXPECT_EQ(value->vt, VT_UINT);
    EXPECT_EQ(value->uintVal, 0u);
    SysFreeString(sharp);

    ScopedVariant applied;
    BSTR valueText = nullptr, name = nullptr;
    BOOL readOnly = TRUE, visible = FALSE;
    EXPECT_EQ(method->GetInfo(applied.get(), &valueText, &name, &readOnly, &visible), E_NOTIMPL);
    EXPECT_EQ(Utf8FromBstr(valueText), "Precise too");
    EXPECT_EQ(Utf8FromBstr(name), "Method");
    EXPECT_FALSE(readOnly);
    EXPECT_TRUE(visible);
    SysFreeString(valueText);
    SysFreeString(name);
    EXPECT_EQ(method->GetRange(nullptr, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(Params, ReadOnlyValuesComeFromTheOwner)
{
    m.source->Describe(720);
    ComPtr<IParamConfig> source;
    m.GetParamConfig(&kSourceId, source.Put());
    ScopedVariant v;
    source->GetValue(v.get(), FALSE);  // read-only: always the live value
    EXPECT_EQ(v->uiVal, 720);
    VARIANT w = I4(1);
    EXPECT_EQ(source->SetValue(&w, TRUE), E_ACCESSDENIED);
}

}  // namespace
