#include "module_config.h"

#include <algorithm>

#include "param_stream.h"

namespace ModuleConfig {

CModuleConfig::CModuleConfig(IUnknown* outer, const CLSID& classId) : outer_(outer), classId_(classId) {}

bool CModuleConfig::AnswerInterface(REFIID riid, void** ppv)
{
    if (riid != IID_IPersist && riid != IID_IPersistStream && riid != IID_IModuleConfig) return false;
    *ppv = static_cast<IModuleConfig*>(this);
    AddRef();
    return true;
}

HRESULT CModuleConfig::QueryInterface(REFIID riid, void** ppv) { return outer_->QueryInterface(riid, ppv); }
ULONG CModuleConfig::AddRef() { return outer_->AddRef(); }
ULONG CModuleConfig::Release() { return outer_->Release(); }

CBaseParam* CModuleConfig::Find(const GUID& id) const
{
    for (const auto& param : params_)
        if (param->Id() == id) return param.get();
    return nullptr;
}

void CModuleConfig::Notify(const std::vector<GUID>& ids)
{
    std::vector<IModuleCallback*> sinks;
    {
        std::lock_guard guard(valuesLock_);
        sinks = sinks_;
    }
    for (IModuleCallback* sink : sinks) sink->OnModuleNotify(static_cast<LONG>(ids.size()), ids.data());
}

HRESULT CModuleConfig::ApplyChangeSet(const std::vector<GUID>& ids)
{
    HRESULT hr = ApplyChanges(ids);
    if (FAILED(hr)) return hr;
    {
        std::lock_guard guard(valuesLock_);
        for (const GUID& id : ids)
            if (CBaseParam* param = Find(id)) param->ClearChanged();
    }
    Notify(ids);
    return hr;
}

HRESULT CModuleConfig::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = classId_;
    return S_OK;
}

HRESULT CModuleConfig::IsDirty() { return S_FALSE; }

HRESULT CModuleConfig::Save(IStream* stream, BOOL)
{
    if (!stream) return E_POINTER;
    uint32_t count = static_cast<uint32_t>(
        std::count_if(params_.begin(), params_.end(), [](const auto& p) { return !p->IsReadOnly(); }));
    HRESULT hr = WriteStreamHeader(stream, count);
    std::lock_guard guard(valuesLock_);
    for (const auto& param : params_) {
        if (FAILED(hr)) break;
        if (param->IsReadOnly()) continue;
        ScopedVariant value;
        param->GetLive(value.get());
        hr = WriteStreamEntry(stream, param->Id(), *value.get(), param->IsVisible());
    }
    return hr;
}

HRESULT CModuleConfig::Load(IStream* stream)
{
    ParsedStream parsed;
    HRESULT hr = ReadParamStream(stream, parsed);
    if (FAILED(hr)) return hr;
    std::vector<GUID> ids;
    std::unique_lock guard(valuesLock_);
    for (StreamEntry& entry : parsed.entries) {
        CBaseParam* param = Find(entry.id);
        if (!param || FAILED(param->SetPending(&entry.value))) continue;
        param->TakeVisible(entry.visible != 0);
        ids.push_back(entry.id);
    }
    guard.unlock();
    return ApplyChangeSet(ids);
}

HRESULT CModuleConfig::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size) return E_POINTER;
    uint64_t total = 24;
    std::lock_guard guard(valuesLock_);
    for (const auto& param : params_) {
        if (param->IsReadOnly()) continue;
        ScopedVariant value;
        param->GetLive(value.get());
        total += sizeof(GUID) + VariantSizeMax(*value.get()) + 4;
    }
    size->QuadPart = total;
    return S_OK;
}

HRESULT CModuleConfig::SetValue(const GUID* id, const VARIANT* value)
{
    if (!id || !value) return E_POINTER;
    CBaseParam* param = Find(*id);
    if (!param) return E_UNEXPECTED;
    // The caller keeps its variant; conversion happens on a copy.
    ScopedVariant copy;
    HRESULT hr = VariantCopy(copy.get(), value);
    return SUCCEEDED(hr) ? param->SetValue(copy.get(), FALSE) : hr;
}

HRESULT CModuleConfig::GetValue(const GUID* id, VARIANT* value)
{
    if (!id || !value) return E_POINTER;
    VariantClear(value);
    CBaseParam* param = Find(*id);
    if (!param) return E_INVALIDARG;
    std::lock_guard guard(valuesLock_);
    param->GetLive(value);
    return S_OK;
}

HRESULT CModuleConfig::GetParamConfig(const GUID* id, IParamConfig** config)
{
    if (!config) return E_POINTER;
    *config = nullptr;
    CBaseParam* param = id ? Find(*id) : nullptr;
    if (!param) return E_INVALIDARG;
    param->AddRef();
    *config = param;
    return S_OK;
}

HRESULT CModuleConfig::IsSupported(const GUID* id)
{
    if (!id) return E_POINTER;
    return Find(*id) ? S_OK : S_FALSE;
}

HRESULT CModuleConfig::ResetToDefaults()
{
    std::vector<GUID> ids;
    for (const auto& param : params_)
        if (!param->IsReadOnly() && SUCCEEDED(param->ResetPending())) ids.push_back(param->Id());
    return ApplyChangeSet(ids);
}

HRESULT CModuleConfig::EnumParams(LONG* count, GUID* ids)
{
    if (!count) return E_POINTER;
    LONG size = static_cast<LONG>(params_.size());
    if (!ids || *count < size) {
        *count = size;
        return S_FALSE;
    }
    for (LONG i = 0; i < size; ++i) ids[i] = params_[i]->Id();
    *count = size;
    return S_OK;
}

HRESULT CModuleConfig::CommitChanges(VARIANT*)
{
    std::vector<GUID> ids;
    try {
        std::lock_guard guard(valuesLock_);
        for (const auto& param : params_)
            if (param->IsChanged() || param->IsReadOnly()) ids.push_back(param->Id());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return ApplyChangeSet(ids);
}

HRESULT CModuleConfig::DeclineChanges()
{
    std::vector<GUID> ids;
    {
        std::lock_guard guard(valuesLock_);
        for (const auto& param : params_) {
            if (!param->IsChanged() || param->IsReadOnly()) continue;
            param->RevertPending();
            ids.push_back(param->Id());
        }
    }
    return ApplyChangeSet(ids);
}

HRESULT CModuleConfig::AddNotifySink(IModuleCallback* sink)
{
    if (!sink) return E_POINTER;
    std::lock_guard guard(valuesLock_);
    sinks_.push_back(sink);
    return S_OK;
}

HRESULT CModuleConfig::RemoveNotifySink(IModuleCallback* sink)
{
    std::lock_guard guard(valuesLock_);
    std::erase(sinks_, sink);
    return S_OK;
}

}  // namespace ModuleConfig
