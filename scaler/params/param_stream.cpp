#include "param_stream.h"

#include <cstring>

namespace ModuleConfig {

ParsedStream::~ParsedStream()
{
    for (auto& entry : entries) VariantClear(&entry.value);
}

namespace {

HRESULT WriteAll(IStream* stream, const void* data, ULONG size)
{
    ULONG written = 0;
    HRESULT hr = stream->Write(data, size, &written);
    if (FAILED(hr)) return hr;
    return written == size ? S_OK : STG_E_WRITEFAULT;
}

template <class T>
HRESULT WriteLE(IStream* stream, T value)
{
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(uint64_t(value) >> (8 * i));
    return WriteAll(stream, bytes, sizeof(T));
}

bool ReadAll(IStream* stream, void* data, ULONG size)
{
    ULONG read = 0;
    return SUCCEEDED(stream->Read(data, size, &read)) && read == size;
}

template <class T>
bool ReadLE(IStream* stream, T* value)
{
    uint8_t bytes[sizeof(T)];
    if (!ReadAll(stream, bytes, sizeof(T))) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(bytes[i]) << (8 * i);
    *value = static_cast<T>(v);
    return true;
}

// Number of value bytes after the type, or 0 for a string or a type that is not stored as is.
uint32_t FixedSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    default: return 0;
    }
}

HRESULT WriteString(IStream* stream, BSTR text)
{
    if (!text) return WriteLE<uint32_t>(stream, 0);
    uint32_t bytes = SysStringByteLen(text) + 2;
    HRESULT hr = WriteLE<uint32_t>(stream, bytes);
    return SUCCEEDED(hr) ? WriteAll(stream, text, bytes) : hr;
}

bool ReadString(IStream* stream, BSTR* out)
{
    uint32_t bytes = 0;
    if (!ReadLE(stream, &bytes)) return false;
    *out = nullptr;
    if (bytes == 0) return true;
    if (bytes % 2 != 0) return false;
    // Read in pieces so that a forged length costs no more memory than the stream holds.
    std::u16string text;
    constexpr uint32_t kPiece = 1 << 16;
    for (uint32_t left = bytes; left > 0;) {
        uint32_t n = std::min(left, kPiece);
        size_t at = text.size();
        text.resize(at + n / 2);
        if (!ReadAll(stream, text.data() + at, n)) return false;
        left -= n;
    }
    if (text.back() != u'\0') return false;
    text.pop_back();
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr;
}

}  // namespace

HRESULT WriteVariant(IStream* stream, const VARIANT& value)
{
    if (uint32_t size = FixedSize(value.vt)) {
        HRESULT hr = WriteLE<uint16_t>(stream, value.vt);
        if (FAILED(hr)) return hr;
        uint64_t bits = 0;
        std::memcpy(&bits, &value.llVal, size);
        uint8_t bytes[8];
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
        return WriteAll(stream, bytes, size);
    }
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = value.vt == VT_BSTR ? VariantCopy(&text, &value) : VariantChangeType(&text, &value, 0, VT_BSTR);
    if (SUCCEEDED(hr)) hr = WriteLE<uint16_t>(stream, VT_BSTR);
    if (SUCCEEDED(hr)) hr = WriteString(stream, text.bstrVal);
    VariantClear(&text);
    return hr;
}

uint32_t VariantSizeMax(const VARIANT& value)
{
    if (uint32_t size = FixedSize(value.vt)) return 2 + size;
    if (value.vt == VT_BSTR) return 2 + 4 + SysStringByteLen(value.bstrVal) + 2;
    return 2 + 4 + 2 * 64;  // the string form of any other scalar
}

HRESULT WriteStreamHeader(IStream* stream, uint32_t count)
{
    HRESULT hr = WriteAll(stream, &kParamStreamFormat, sizeof(GUID));
    if (SUCCEEDED(hr)) hr = WriteLE<uint32_t>(stream, 0);
    if (SUCCEEDED(hr)) hr = WriteLE<uint32_t>(stream, count);
    return hr;
}

HRESULT WriteStreamEntry(IStream* stream, const GUID& id, const VARIANT& value, bool visible)
{
    HRESULT hr = WriteAll(stream, &id, sizeof(GUID));
    if (SUCCEEDED(hr)) hr = WriteVariant(stream, value);
    if (SUCCEEDED(hr)) hr = WriteLE<uint32_t>(stream, visible ? 1 : 0);
    return hr;
}

static bool ReadVariant(IStream* stream, VARIANT* out)
{
    VariantInit(out);
    uint16_t vt = 0;
    if (!ReadLE(stream, &vt)) return false;
    if (vt == VT_BSTR) {
        BSTR text = nullptr;
        if (!ReadString(stream, &text)) return false;
        out->vt = VT_BSTR;
        out->bstrVal = text;
        return true;
    }
    uint32_t size = FixedSize(vt);
    if (size == 0) return false;
    uint8_t bytes[8];
    if (!ReadAll(stream, bytes, size)) return false;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < size; ++i) bits |= uint64_t(bytes[i]) << (8 * i);
    std::memcpy(&out->llVal, &bits, size);
    out->vt = vt;
    return true;
}

HRESULT ReadParamStream(IStream* stream, ParsedStream& out)
{
    if (!stream) return E_POINTER;
    GUID format{};
    uint32_t version = 0, count = 0;
    if (!ReadAll(stream, &format, sizeof(GUID)) || format != kParamStreamFormat) return E_FAIL;
    if (!ReadLE(stream, &version) || version != 0) return E_FAIL;
    if (!ReadLE(stream, &count)) return E_FAIL;
    for (uint32_t i = 0; i < count; ++i) {
        StreamEntry entry;
        if (!ReadAll(stream, &entry.id, sizeof(GUID))) return E_FAIL;
        if (!ReadVariant(stream, &entry.value)) {
            VariantClear(&entry.value);
            return E_FAIL;
        }
        out.entries.push_back(entry);
        if (!ReadLE(stream, &out.entries.back().visible)) return E_FAIL;
    }
    return S_OK;
}

}  // namespace ModuleConfig
