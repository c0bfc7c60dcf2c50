// The scaler's configuration object: its parameter set over SCALVO_Config, handing every
// change set to the filter.
#pragma once

#include <algorithm>
#include <functional>

#include "params/module_config.h"
#include "scalvo_config.h"

class IMC_SCALVO : public ModuleConfig::CModuleConfigImpl<SCALVO_Config> {
public:
    using ApplyHook = std::function<HRESULT(const std::vector<GUID>&)>;
    IMC_SCALVO(IUnknown* outer, ApplyHook hook);

    SCALVO_Config& Live() { return m_config; }

    // The value a change set applies: the pending one for a changed id, else the live one.
    template <VARTYPE VT>
    typename ModuleConfig::VariantValue<VT>::type Incoming(const GUID& id, const std::vector<GUID>& ids) const
    {
        auto* param = static_cast<ModuleConfig::CParamImpl<VT>*>(Find(id));
        std::lock_guard guard(ValuesLock());
        bool changed = std::find(ids.begin(), ids.end(), id) != ids.end();
        return changed ? param->Pending() : param->Live();
    }
    // Sets a value as both applied and pending (values the filter adjusts or describes).
    template <VARTYPE VT>
    void Store(const GUID& id, typename ModuleConfig::VariantValue<VT>::type value)
    {
        std::lock_guard guard(ValuesLock());
        static_cast<ModuleConfig::CParamImpl<VT>*>(Find(id))->Describe(value);
    }

protected:
    HRESULT ApplyChanges(const std::vector<GUID>& ids) override { return hook_(ids); }

private:
    ApplyHook hook_;
};
