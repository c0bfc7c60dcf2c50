// The parameter container: holds a module's parameters in registration order, implements
// IModuleConfig and IPersistStream on one interface table, collects pending changes and hands
// them to the owner's apply hook as one change set, then tells the notification sinks.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "param.h"

namespace ModuleConfig {

class CModuleConfig : public IModuleConfig {
public:
    // outer: the object whose reference count and QueryInterface this one shares;
    // classId: what GetClassID reports.
    CModuleConfig(IUnknown* outer, const CLSID& classId);
    virtual ~CModuleConfig() = default;
    CModuleConfig(const CModuleConfig&) = delete;
    CModuleConfig& operator=(const CModuleConfig&) = delete;

    // Answers IPersist, IPersistStream and IModuleConfig for the outer object.
    bool AnswerInterface(REFIID riid, void** ppv);

    // IUnknown, delegated to the outer object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPersistStream
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    // IModuleConfig
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* id, const VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* id, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetParamConfig(const GUID* id, IParamConfig** config) override;
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* id) override;
    HRESULT STDMETHODCALLTYPE ResetToDefaults() override;
    HRESULT STDMETHODCALLTYPE EnumParams(LONG* count, GUID* ids) override;
    HRESULT STDMETHODCALLTYPE CommitChanges(VARIANT* reserved) override;
    HRESULT STDMETHODCALLTYPE DeclineChanges() override;
    HRESULT STDMETHODCALLTYPE SaveToRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue) override;
    HRESULT STDMETHODCALLTYPE LoadFromRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue) override;
    HRESULT STDMETHODCALLTYPE AddNotifySink(IModuleCallback* sink) override;
    HRESULT STDMETHODCALLTYPE RemoveNotifySink(IModuleCallback* sink) override;

    IUnknown* Outer() const { return outer_; }
    // Guards the pending values, changed flags and sink list, which the host's thread and a
    // property page's share; also taken by the owner around writes of the live values. Never
    // held while the apply hook or a sink runs.
    std::recursive_mutex& ValuesLock() const { return valuesLock_; }
    CBaseParam* Find(const GUID& id) const;
    const std::vector<std::unique_ptr<CBaseParam>>& Params() const { return params_; }

    // Applies one change set: the hook, then (on success) changed flags cleared and sinks told.
    HRESULT ApplyChangeSet(const std::vector<GUID>& ids);

protected:
    // The owner's apply hook. A changed id's new value is its parameter's pending value.
    virtual HRESULT ApplyChanges(const std::vector<GUID>& ids) = 0;

    template <VARTYPE VT>
    CParamImpl<VT>* Register(const GUID& id, const char* name, bool readOnly, typename VariantValue<VT>::type* live,
                             typename VariantValue<VT>::type defaultValue)
    {
        auto param = std::make_unique<CParamImpl<VT>>(this, id, name, readOnly, live, defaultValue);
        CParamImpl<VT>* raw = param.get();
        params_.push_back(std::move(param));
        return raw;
    }

private:
    void Notify(const std::vector<GUID>& ids);

    IUnknown* outer_;
    CLSID classId_;
    std::vector<std::unique_ptr<CBaseParam>> params_;
    std::vector<IModuleCallback*> sinks_;
    mutable std::recursive_mutex valuesLock_;
    uint32_t version_ = 0;
};

// A container whose live values are the fields of the configuration record T.
template <class T>
class CModuleConfigImpl : public CModuleConfig {
public:
    using CModuleConfig::CModuleConfig;
    const T& Config() const { return m_config; }

protected:
    T m_config{};
};

}  // namespace ModuleConfig
