#include "param.h"

#include "module_config.h"

namespace ModuleConfig {

void CValidValues::Add(std::unique_ptr<CParamLimit> limit)
{
    std::lock_guard guard(lock_);
    limits_.push_back(std::move(limit));
}

LONG CValidValues::Count() const
{
    std::lock_guard guard(lock_);
    return static_cast<LONG>(limits_.size());
}

HRESULT CValidValues::List(LONG* count, VARIANT* values, BSTR* meanings) const
{
    std::lock_guard guard(lock_);
    LONG size = static_cast<LONG>(limits_.size());
    if (!values && !meanings) {
        *count = size;
        return S_FALSE;
    }
    LONG n = std::min(std::max<LONG>(*count, 0), size);
    for (LONG i = 0; i < n; ++i) {
        if (values) limits_[i]->GetValue(&values[i]);
        if (meanings) meanings[i] = SysAllocStringUtf8(limits_[i]->Meaning());
    }
    *count = n;
    return S_OK;
}

HRESULT CValidValues::ValueToText(const VARIANT& value, BSTR* text) const
{
    std::lock_guard guard(lock_);
    for (auto it = limits_.rbegin(); it != limits_.rend(); ++it)
        if ((*it)->Matches(value)) {
            *text = SysAllocStringUtf8((*it)->Meaning());
            return S_OK;
        }
    return E_UNEXPECTED;
}

HRESULT CValidValues::TextToValue(const std::string& text, VARIANT* value) const
{
    std::lock_guard guard(lock_);
    for (auto it = limits_.rbegin(); it != limits_.rend(); ++it)
        if ((*it)->Meaning() == text) {
            (*it)->GetValue(value);
            return S_OK;
        }
    return E_UNEXPECTED;
}

CBaseParam::CBaseParam(CModuleConfig* owner, const GUID& id, std::string name, bool readOnly)
    : owner_(owner), id_(id), readOnly_(readOnly), name_(std::move(name))
{
}

HRESULT CBaseParam::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IParamConfig) {
        *ppv = static_cast<IParamConfig*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CBaseParam::AddRef() { return owner_->Outer()->AddRef(); }
ULONG CBaseParam::Release() { return owner_->Outer()->Release(); }

CValidValues& CBaseParam::ValidValues()
{
    if (!validValues_) validValues_ = std::make_unique<CValidValues>();
    return *validValues_;
}

HRESULT CBaseParam::SetPending(VARIANT* value)
{
    if (!value) return E_POINTER;
    std::lock_guard guard(owner_->ValuesLock());
    if (readOnly_) return E_ACCESSDENIED;
    if (validator_) {
        HRESULT hr = validator_->Validate(*value);
        if (FAILED(hr)) return hr == E_INVALIDARG || hr == DISP_E_OVERFLOW ? E_INVALIDARG : hr;
    }
    HRESULT hr = VariantChangeType(value, value, 0, Type());
    if (FAILED(hr)) return hr;
    StorePending(*value);
    changed_ = true;
    return S_OK;
}

HRESULT CBaseParam::SetValue(VARIANT* value, BOOL applyNow)
{
    HRESULT hr = SetPending(value);
    if (FAILED(hr) || !applyNow) return hr;
    // The apply hook takes the new value from the pending one: a refused value never reaches
    // the live field.
    return owner_->ApplyChangeSet({id_});
}

HRESULT CBaseParam::GetValue(VARIANT* value, BOOL applied)
{
    if (!value) return E_POINTER;
    std::lock_guard guard(owner_->ValuesLock());
    if (applied || readOnly_)
        GetLive(value);
    else
        GetPending(value);
    return S_OK;
}

HRESULT CBaseParam::SetVisible(BOOL visible)
{
    std::lock_guard guard(owner_->ValuesLock());
    visible_ = visible != FALSE;
    changed_ = true;
    return S_OK;
}

HRESULT CBaseParam::GetVisible(BOOL* visible)
{
    if (!visible) return E_POINTER;
    *visible = visible_;
    return S_OK;
}

HRESULT CBaseParam::GetParamID(GUID* id)
{
    if (!id) return E_POINTER;
    *id = id_;
    return S_OK;
}

HRESULT CBaseParam::GetName(BSTR* name)
{
    if (!name) return E_POINTER;
    *name = SysAllocStringUtf8(name_);
    return S_OK;
}

HRESULT CBaseParam::GetReadOnly(BOOL* readOnly)
{
    if (!readOnly) return E_POINTER;
    *readOnly = readOnly_;
    return S_OK;
}

HRESULT CBaseParam::GetInfo(VARIANT* value, BSTR* valueText, BSTR* name, BOOL* readOnly, BOOL* visible)
{
    if (value) {
        {
            std::lock_guard guard(owner_->ValuesLock());
            GetLive(value);
        }
        if (valueText) {
            *valueText = nullptr;
            ValueToText(value, valueText);
        }
    }
    if (name) GetName(name);
    if (readOnly) *readOnly = readOnly_;
    if (visible) *visible = visible_;
    return E_NOTIMPL;
}

HRESULT CBaseParam::GetDefault(VARIANT* value)
{
    if (!value) return E_POINTER;
    GetDefaultValue(value);
    return S_OK;
}

HRESULT CBaseParam::GetRange(VARIANT*, VARIANT*, VARIANT*) { return E_NOTIMPL; }

HRESULT CBaseParam::ListValidValues(LONG* count, VARIANT* values, BSTR* meanings)
{
    if (!count) return E_POINTER;
    if (!validValues_) {
        *count = 0;
        return E_UNEXPECTED;
    }
    return validValues_->List(count, values, meanings);
}

HRESULT CBaseParam::ValueToText(VARIANT* value, BSTR* text)
{
    if (!value || !text) return E_POINTER;
    if (!validValues_) return E_UNEXPECTED;
    return validValues_->ValueToText(*value, text);
}

HRESULT CBaseParam::TextToValue(BSTR text, VARIANT* value)
{
    if (!value) return E_POINTER;
    if (!validValues_) return E_UNEXPECTED;
    return validValues_->TextToValue(Utf8FromBstr(text), value);
}

}  // namespace ModuleConfig
