// A small parameter container with a recording apply hook, for the framework tests.
#pragma once

#include <string>
#include <vector>

#include "params/module_config.h"

struct TestConfig {
    uint16_t width;
    int16_t flag;
    uint32_t method;
    uint32_t mask;
    double ratio;
    uint16_t source;
};

inline const GUID kWidthId = {0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
inline const GUID kFlagId = {0x22222222, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};
inline const GUID kMethodId = {0x33333333, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}};
inline const GUID kMaskId = {0x44444444, 4, 4, {4, 4, 4, 4, 4, 4, 4, 4}};
inline const GUID kRatioId = {0x55555555, 5, 5, {5, 5, 5, 5, 5, 5, 5, 5}};
inline const GUID kSourceId = {0x66666666, 6, 6, {6, 6, 6, 6, 6, 6, 6, 6}};
inline const CLSID kTestClsid = {0x77777777, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};

class TestModule : public ModuleConfig::CModuleConfigImpl<TestConfig> {
public:
    explicit TestModule(IUnknown* outer) : CModuleConfigImpl(outer, kTestClsid)
    {
        using namespace ModuleConfig;
        Register<VT_UI2>(kWidthId, "Width", false, &m_config.width, 0)
            ->SetValidator(std::make_unique<CParamRange<VT_UI2>>(0, 16384));
        Register<VT_I2>(kFlagId, "Flag", false, &m_config.flag, 0);
        auto* method = Register<VT_UINT>(kMethodId, "Method", false, &m_config.method, 1);
        method->SetValidator(std::make_unique<CParamRange<VT_UINT>>(0, 2));
        method->ValidValues().Add(std::make_unique<CLimitImpl<VT_UINT>>(0, "Sharp"));
        method->ValidValues().Add(std::make_unique<CLimitImpl<VT_UINT>>(1, "Precise"));
        method->ValidValues().Add(std::make_unique<CLimitImpl<VT_UINT>>(1, "Precise too"));
        Register<VT_UI4>(kMaskId, "Mask", false, &m_config.mask, 0);
        Register<VT_R8>(kRatioId, "Ratio", false, &m_config.ratio, 1.0)
            ->SetValidator(std::make_unique<CParamRange<VT_R8>>(0.0, 20000.0));
        source = Register<VT_UI2>(kSourceId, "Source", true, &m_config.source, 0);
    }

    HRESULT ApplyChanges(const std::vector<GUID>& ids) override
    {
        changeSets.push_back(ids);
        if (FAILED(hookResult)) return hookResult;
        std::lock_guard guard(ValuesLock());
        for (const GUID& id : ids) Find(id)->ApplyPending();
        return S_OK;
    }

    ModuleConfig::CParamImpl<VT_UI2>* source;
    std::vector<std::vector<GUID>> changeSets;
    HRESULT hookResult = S_OK;
};

// The object that owns the container and answers its interfaces.
class TestOwner : public IUnknown, public RefCounted {
public:
    TestOwner() : module(this) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (module.AnswerInterface(riid, ppv)) return S_OK;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    TestModule module;
};

class RecordingSink : public IModuleCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnModuleNotify(LONG count, const GUID* ids) override
    {
        calls.emplace_back(ids, ids + count);
        return S_OK;
    }
    std::vector<std::vector<GUID>> calls;
};
