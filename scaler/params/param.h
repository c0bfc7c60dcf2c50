// Typed parameters of a module: each one is an IParamConfig with an id, a name, a live value
// (a field of the owner's configuration record), a pending value, a default, an optional range
// and an optional list of valid values with their meanings.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/module_config.h"

namespace ModuleConfig {

class CModuleConfig;

// The C++ value type behind each VARIANT type a parameter can have.
template <VARTYPE VT>
struct VariantValue;
template <> struct VariantValue<VT_UI2> { using type = uint16_t; static type& Of(VARIANT& v) { return v.uiVal; } };
template <> struct VariantValue<VT_I2> { using type = int16_t; static type& Of(VARIANT& v) { return v.iVal; } };
template <> struct VariantValue<VT_UINT> { using type = uint32_t; static type& Of(VARIANT& v) { return v.uintVal; } };
template <> struct VariantValue<VT_UI4> { using type = uint32_t; static type& Of(VARIANT& v) { return v.ulVal; } };
template <> struct VariantValue<VT_R8> { using type = double; static type& Of(VARIANT& v) { return v.dblVal; } };

template <VARTYPE VT>
void MakeVariant(VARIANT* out, typename VariantValue<VT>::type value)
{
    VariantInit(out);
    out->vt = VT;
    VariantValue<VT>::Of(*out) = value;
}

// Converts any variant to VT; fails with the conversion error.
template <VARTYPE VT>
HRESULT ReadVariant(const VARIANT& in, typename VariantValue<VT>::type* out)
{
    VARIANT tmp;
    VariantInit(&tmp);
    HRESULT hr = VariantChangeType(&tmp, &in, 0, VT);
    if (SUCCEEDED(hr)) *out = VariantValue<VT>::Of(tmp);
    VariantClear(&tmp);
    return hr;
}

class CValueValidator {
public:
    virtual ~CValueValidator() = default;
    // S_OK when the value converts and lies in the range, E_INVALIDARG when it does not.
    virtual HRESULT Validate(const VARIANT& value) const = 0;
};

template <VARTYPE VT>
class CParamRange final : public CValueValidator {
public:
    using T = typename VariantValue<VT>::type;
    CParamRange(T minimum, T maximum) : minimum_(minimum), maximum_(maximum) {}
    HRESULT Validate(const VARIANT& value) const override
    {
        T v{};
        HRESULT hr = ReadVariant<VT>(value, &v);
        if (FAILED(hr)) return hr;
        return minimum_ <= v && v <= maximum_ ? S_OK : E_INVALIDARG;
    }

private:
    T minimum_, maximum_;
};

class CParamLimit {
public:
    explicit CParamLimit(std::string meaning) : meaning_(std::move(meaning)) {}
    virtual ~CParamLimit() = default;
    const std::string& Meaning() const { return meaning_; }
    virtual void GetValue(VARIANT* out) const = 0;
    virtual bool Matches(const VARIANT& value) const = 0;

private:
    std::string meaning_;
};

template <VARTYPE VT>
class CLimitImpl final : public CParamLimit {
public:
    using T = typename VariantValue<VT>::type;
    CLimitImpl(T value, std::string meaning) : CParamLimit(std::move(meaning)), value_(value) {}
    void GetValue(VARIANT* out) const override { MakeVariant<VT>(out, value_); }
    bool Matches(const VARIANT& value) const override
    {
        T v{};
        return SUCCEEDED(ReadVariant<VT>(value, &v)) && v == value_;
    }

private:
    T value_;
};

// The valid values of a parameter with their meaning texts; searched from the last entry.
class CValidValues {
public:
    void Add(std::unique_ptr<CParamLimit> limit);
    LONG Count() const;
    HRESULT List(LONG* count, VARIANT* values, BSTR* meanings) const;
    HRESULT ValueToText(const VARIANT& value, BSTR* text) const;
    HRESULT TextToValue(const std::string& text, VARIANT* value) const;

private:
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<CParamLimit>> limits_;
};

class CBaseParam : public IParamConfig {
public:
    CBaseParam(CModuleConfig* owner, const GUID& id, std::string name, bool readOnly);
    virtual ~CBaseParam() = default;

    // IUnknown: the parameter lives as long as its module.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IParamConfig
    HRESULT STDMETHODCALLTYPE SetValue(VARIANT* value, BOOL applyNow) override;
    HRESULT STDMETHODCALLTYPE GetValue(VARIANT* value, BOOL applied) override;
    HRESULT STDMETHODCALLTYPE SetVisible(BOOL visible) override;
    HRESULT STDMETHODCALLTYPE GetVisible(BOOL* visible) override;
    HRESULT STDMETHODCALLTYPE GetParamID(GUID* id) override;
    HRESULT STDMETHODCALLTYPE GetName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetReadOnly(BOOL* readOnly) override;
    HRESULT STDMETHODCALLTYPE GetInfo(VARIANT* value, BSTR* valueText, BSTR* name, BOOL* readOnly,
                                      BOOL* visible) override;
    HRESULT STDMETHODCALLTYPE GetDefault(VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetRange(VARIANT* minimum, VARIANT* maximum, VARIANT* step) override;
    HRESULT STDMETHODCALLTYPE ListValidValues(LONG* count, VARIANT* values, BSTR* meanings) override;
    HRESULT STDMETHODCALLTYPE ValueToText(VARIANT* value, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE TextToValue(BSTR text, VARIANT* value) override;

    const GUID& Id() const { return id_; }
    const std::string& Name() const { return name_; }
    bool IsReadOnly() const { return readOnly_; }
    bool IsPersistable() const { return persistable_; }
    bool IsChanged() const { return changed_; }
    bool IsVisible() const { return visible_; }
    void ClearChanged() { changed_ = false; }
    void TakeVisible(bool visible) { visible_ = visible; }
    virtual VARTYPE Type() const = 0;

    // Checks and converts the value and stores it as the pending value (changed flag set).
    HRESULT SetPending(VARIANT* value);
    // Pending value back to the live value (changed flag set), or to the default.
    virtual void RevertPending() = 0;
    // Live value = pending value (what a plain apply hook does for a changed id).
    virtual void ApplyPending() = 0;
    virtual HRESULT ResetPending() = 0;
    // The value an apply hook takes: the pending one for a changed id, else the live one.
    virtual void GetLive(VARIANT* out) const = 0;
    virtual void GetPending(VARIANT* out) const = 0;

    void SetValidator(std::unique_ptr<CValueValidator> validator) { validator_ = std::move(validator); }
    CValidValues& ValidValues();

protected:
    virtual void StorePending(const VARIANT& converted) = 0;
    virtual void GetDefaultValue(VARIANT* out) const = 0;

    CModuleConfig* owner_;

private:
    GUID id_;
    bool changed_ = false;
    bool readOnly_;
    std::string name_;
    bool visible_ = true;
    bool persistable_ = true;
    std::unique_ptr<CValidValues> validValues_;
    std::unique_ptr<CValueValidator> validator_;
};

template <VARTYPE VT>
class CParamImpl final : public CBaseParam {
public:
    using T = typename VariantValue<VT>::type;
    CParamImpl(CModuleConfig* owner, const GUID& id, std::string name, bool readOnly, T* live, T defaultValue)
        : CBaseParam(owner, id, std::move(name), readOnly), live_(live), pending_(defaultValue),
          default_(defaultValue)
    {
        *live_ = defaultValue;
    }

    VARTYPE Type() const override { return VT; }
    void RevertPending() override { pending_ = *live_; }
    void ApplyPending() override { *live_ = pending_; }
    HRESULT ResetPending() override
    {
        VARIANT v;
        MakeVariant<VT>(&v, default_);
        return SetPending(&v);
    }
    void GetLive(VARIANT* out) const override { MakeVariant<VT>(out, *live_); }
    void GetPending(VARIANT* out) const override { MakeVariant<VT>(out, pending_); }

    T Live() const { return *live_; }
    T Pending() const { return pending_; }
    void SetLive(T value) { *live_ = value; }
    // Set by the owner for parameters that describe its input.
    void Describe(T value) { *live_ = pending_ = value; }

protected:
    void StorePending(const VARIANT& converted) override { pending_ = VariantValue<VT>::Of(const_cast<VARIANT&>(converted)); }
    void GetDefaultValue(VARIANT* out) const override { MakeVariant<VT>(out, default_); }

private:
    T* live_;
    T pending_;
    T default_;
};

}  // namespace ModuleConfig
