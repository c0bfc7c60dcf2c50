// Registry persistence of a parameter container: either the whole persistence stream as one
// REG_BINARY value named "SaveToRegistry", or one value per named parameter.
#include <cstring>
#include <string>

#include "module_config.h"
#include "param_stream.h"

namespace ModuleConfig {

namespace {

constexpr const char* kStreamValueName = "SaveToRegistry";

class KeyHandle {
public:
    ~KeyHandle()
    {
        if (key) RegCloseKey(key);
    }
    HKEY key = nullptr;
};

std::string KeyPathUtf8(const WCHAR* keyPath) { return keyPath ? Utf8FromUtf16(keyPath) : std::string(); }

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : E_FAIL; }

void DeleteAllValues(HKEY key)
{
    for (;;) {
        char name[16384];
        DWORD length = sizeof(name);
        if (RegEnumValue(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return;
        if (RegDeleteValue(key, name) != ERROR_SUCCESS) return;
    }
}

HRESULT StreamBytes(IStream* stream, std::vector<uint8_t>& bytes)
{
    LARGE_INTEGER zero{0};
    ULARGE_INTEGER end{0};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_END, &end);
    if (FAILED(hr)) return hr;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    bytes.resize(end.QuadPart);
    ULONG read = 0;
    hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return SUCCEEDED(hr) && read == bytes.size() ? S_OK : E_FAIL;
}

HRESULT QueryValue(HKEY key, const char* name, DWORD* type, std::vector<uint8_t>& data)
{
    DWORD size = 0;
    LSTATUS status = RegQueryValueEx(key, name, nullptr, type, nullptr, &size);
    if (status != ERROR_SUCCESS) return HRESULT(status == ERROR_FILE_NOT_FOUND ? S_FALSE : E_FAIL);
    data.resize(size);
    status = RegQueryValueEx(key, name, nullptr, type, data.data(), &size);
    data.resize(size);
    return FromStatus(status);
}

bool IsSigned(VARTYPE vt) { return vt == VT_I2 || vt == VT_I1 || vt == VT_I4 || vt == VT_INT || vt == VT_BOOL; }

// One parameter value as a registry value of the type its variant type calls for.
HRESULT WriteNamedValue(HKEY key, const std::string& name, const VARIANT& value)
{
    switch (value.vt) {
    case VT_I2: case VT_BOOL: case VT_I1: case VT_I4: case VT_INT:
    case VT_UI2: case VT_UI1: case VT_UINT: case VT_UI4: {
        VARIANT dword;
        VariantInit(&dword);
        HRESULT hr = VariantChangeType(&dword, &value, 0, IsSigned(value.vt) ? VT_I4 : VT_UI4);
        if (FAILED(hr)) return hr;
        DWORD data = dword.ulVal;
        return FromStatus(RegSetValueEx(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), 4));
    }
    case VT_R4:
        return FromStatus(RegSetValueEx(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value.fltVal), 4));
    case VT_R8:
        return FromStatus(RegSetValueEx(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value.dblVal), 8));
    case VT_I8: case VT_UI8:
        return FromStatus(RegSetValueEx(key, name.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value.llVal), 8));
    case VT_BSTR: {
        std::string text = Utf8FromBstr(value.bstrVal);
        return FromStatus(RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>(text.size() + 1)));
    }
    default: return E_FAIL;
    }
}

// The registry value back as a variant for a parameter of type vt; false when the value's
// type or size does not fit that parameter.
bool ReadNamedValue(VARTYPE vt, DWORD type, const std::vector<uint8_t>& data, VARIANT* out)
{
    VariantInit(out);
    switch (vt) {
    case VT_I2: case VT_BOOL: case VT_I1: case VT_I4: case VT_INT:
    case VT_UI2: case VT_UI1: case VT_UINT: case VT_UI4:
        if (type != REG_DWORD || data.size() != 4) return false;
        out->vt = IsSigned(vt) ? VT_I4 : VT_UI4;
        std::memcpy(&out->ulVal, data.data(), 4);
        return true;
    case VT_R4: case VT_R8:
        if (type != REG_BINARY || data.size() != (vt == VT_R4 ? 4u : 8u)) return false;
        out->vt = vt;
        std::memcpy(&out->llVal, data.data(), data.size());
        return true;
    case VT_I8: case VT_UI8:
        if (type != REG_QWORD || data.size() != 8) return false;
        out->vt = vt;
        std::memcpy(&out->llVal, data.data(), 8);
        return true;
    case VT_BSTR:
        if (type != REG_SZ) return false;
        out->vt = VT_BSTR;
        out->bstrVal = SysAllocStringUtf8(
            std::string_view(reinterpret_cast<const char*>(data.data()), strnlen(reinterpret_cast<const char*>(data.data()), data.size())));
        return true;
    default: return false;
    }
}

}  // namespace

HRESULT CModuleConfig::SaveToRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue)
{
    KeyHandle key;
    DWORD disposition = 0;
    if (RegCreateKeyEx(root, KeyPathUtf8(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                       nullptr, &key.key, &disposition) != ERROR_SUCCESS)
        return E_FAIL;
    if (perValue) {
        for (const auto& param : params_) {
            if (!param->IsPersistable() || param->IsReadOnly() || param->Name().empty()) continue;
            ScopedVariant value;
            param->GetLive(value.get());
            HRESULT hr = WriteNamedValue(key.key, param->Name(), *value.get());
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    ComPtr<IStream> stream;
    HRESULT hr = CreateMemoryStream(nullptr, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = Save(stream.Get(), TRUE);
    std::vector<uint8_t> bytes;
    if (SUCCEEDED(hr)) hr = StreamBytes(stream.Get(), bytes);
    if (FAILED(hr)) return hr;
    if (disposition == REG_OPENED_EXISTING_KEY) DeleteAllValues(key.key);
    return FromStatus(RegSetValueEx(key.key, kStreamValueName, 0, REG_BINARY, bytes.data(),
                                    static_cast<DWORD>(bytes.size())));
}

HRESULT CModuleConfig::LoadFromRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue)
{
    KeyHandle key;
    if (RegOpenKeyEx(root, KeyPathUtf8(keyPath).c_str(), 0, KEY_READ, &key.key) != ERROR_SUCCESS) return E_FAIL;
    if (!perValue) {
        DWORD type = 0;
        std::vector<uint8_t> data;
        if (QueryValue(key.key, kStreamValueName, &type, data) != S_OK || type != REG_BINARY) return E_FAIL;
        ComPtr<IStream> stream;
        HRESULT hr = CreateMemoryStream(data.data(), data.size(), stream.Put());
        return SUCCEEDED(hr) ? Load(stream.Get()) : hr;
    }
    // Every value is read and checked before any parameter changes.
    struct Loaded {
        CBaseParam* param;
        ScopedVariant value;
    };
    std::vector<std::unique_ptr<Loaded>> loaded;
    for (const auto& param : params_) {
        if (!param->IsPersistable() || param->IsReadOnly() || param->Name().empty()) continue;
        DWORD type = 0;
        std::vector<uint8_t> data;
        HRESULT hr = QueryValue(key.key, param->Name().c_str(), &type, data);
        if (hr == S_FALSE) continue;
        auto entry = std::make_unique<Loaded>();
        entry->param = param.get();
        if (FAILED(hr) || !ReadNamedValue(param->Type(), type, data, entry->value.get())) return E_FAIL;
        loaded.push_back(std::move(entry));
    }
    std::vector<GUID> ids;
    for (auto& entry : loaded)
        if (SUCCEEDED(entry->param->SetPending(entry->value.get()))) ids.push_back(entry->param->Id());
    return ApplyChangeSet(ids);
}

}  // namespace ModuleConfig
