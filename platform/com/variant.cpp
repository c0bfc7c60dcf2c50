// VARIANT lifetime and VariantChangeType with the Windows conversion rules.
#include "variant.h"

#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr VARTYPE kTypeFlags = 0xF000;  // VT_VECTOR, VT_ARRAY, VT_BYREF, VT_RESERVED

bool IsKnownType(VARTYPE vt)
{
    return vt <= VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UINT);
}

// The source value reduced to the few shapes that the conversion rules distinguish.
struct Scalar {
    enum Kind { Empty, Signed, Unsigned, Real, Bool, Text, Error } kind = Empty;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
    bool single = false;  // a VT_R4 source: printed with single precision
    bool b = false;
    BSTR text = nullptr;  // borrowed from the source
    SCODE scode = 0;
};

std::optional<Scalar> ReadScalar(const VARIANT& v)
{
    Scalar s;
    switch (v.vt) {
    case VT_EMPTY: s.kind = Scalar::Empty; break;
    case VT_I1: s.kind = Scalar::Signed, s.i = int8_t(v.cVal); break;
    case VT_I2: s.kind = Scalar::Signed, s.i = v.iVal; break;
    case VT_I4: s.kind = Scalar::Signed, s.i = v.lVal; break;
    case VT_INT: s.kind = Scalar::Signed, s.i = v.intVal; break;
    case VT_I8: s.kind = Scalar::Signed, s.i = v.llVal; break;
    case VT_UI1: s.kind = Scalar::Unsigned, s.u = v.bVal; break;
    case VT_UI2: s.kind = Scalar::Unsigned, s.u = v.uiVal; break;
    case VT_UI4: s.kind = Scalar::Unsigned, s.u = v.ulVal; break;
    case VT_UINT: s.kind = Scalar::Unsigned, s.u = v.uintVal; break;
    case VT_UI8: s.kind = Scalar::Unsigned, s.u = v.ullVal; break;
    case VT_R4: s.kind = Scalar::Real, s.d = v.fltVal, s.single = true; break;
    case VT_R8: s.kind = Scalar::Real, s.d = v.dblVal; break;
    // The 16-bit value travels as it is, as Windows converts it: a VT_BOOL holding 1 (a ticked
    // box from some property pages) gives 1, not VARIANT_TRUE's -1.
    case VT_BOOL: s.kind = Scalar::Bool, s.b = v.boolVal != VARIANT_FALSE, s.i = v.boolVal; break;
    case VT_BSTR: s.kind = Scalar::Text, s.text = v.bstrVal; break;
    case VT_ERROR: s.kind = Scalar::Error, s.scode = v.scode; break;
    default: return std::nullopt;
    }
    return s;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view TrimmedText(BSTR text)
{
    std::u16string_view in(text ? text : u"", SysStringLen(text));
    size_t begin = 0, end = in.size();
    while (begin < end && IsSpace(in[begin])) ++begin;
    while (end > begin && IsSpace(in[end - 1])) --end;
    return in.substr(begin, end - begin);
}

// Numbers read and print the same whatever locale the host program has set (Qt sets the
// user's): "." is the decimal point.
locale_t CLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

// Parses decimal text as the number parser of Windows does in the C locale: surrounding
// blanks, a sign, digits with optional "," group separators, a fraction and an exponent.
// Whole numbers that fit come back exact; the rest as double.
std::optional<Scalar> ParseNumber(BSTR text)
{
    std::u16string_view in = TrimmedText(text);

    std::string plain;  // ASCII form for the C library, group separators dropped
    size_t pos = 0;
    if (pos < in.size() && (in[pos] == u'+' || in[pos] == u'-')) plain += char(in[pos++]);
    size_t digits = 0;
    bool whole = true;
    for (; pos < in.size() && (IsDigit(in[pos]) || (in[pos] == u',' && digits > 0)); ++pos)
        if (in[pos] != u',') plain += char(in[pos]), ++digits;
    if (pos < in.size() && in[pos] == u'.') {
        whole = false;
        plain += '.';
        for (++pos; pos < in.size() && IsDigit(in[pos]); ++pos) plain += char(in[pos]), ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (pos < in.size() && (in[pos] == u'e' || in[pos] == u'E' || in[pos] == u'd' || in[pos] == u'D')) {
        whole = false;
        plain += 'e';
        ++pos;
        if (pos < in.size() && (in[pos] == u'+' || in[pos] == u'-')) plain += char(in[pos++]);
        size_t exponentDigits = 0;
        for (; pos < in.size() && IsDigit(in[pos]); ++pos) plain += char(in[pos]), ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (pos != in.size()) return std::nullopt;

    Scalar s;
    errno = 0;
    if (whole && plain[0] == '-') {
        long long value = strtoll_l(plain.c_str(), nullptr, 10, CLocale());
        if (errno == 0) return s.kind = Scalar::Signed, s.i = value, s;
    } else if (whole) {
        unsigned long long value = strtoull_l(plain.c_str(), nullptr, 10, CLocale());
        if (errno == 0) return s.kind = Scalar::Unsigned, s.u = value, s;
    }
    s.kind = Scalar::Real;
    s.d = strtod_l(plain.c_str(), nullptr, CLocale());
    return s;
}

bool EqualsIgnoringCase(BSTR text, std::u16string_view word)
{
    std::u16string_view in = TrimmedText(text);
    if (in.size() != word.size()) return false;
    for (size_t i = 0; i < in.size(); ++i) {
        char16_t a = in[i], b = word[i];
        if (a >= u'A' && a <= u'Z') a = char16_t(a + 32);
        if (b >= u'A' && b <= u'Z') b = char16_t(b + 32);
        if (a != b) return false;
    }
    return true;
}

// Integer targets: the value as a two's-complement bit pattern of the target width.
struct IntegerRange {
    bool isSigned;
    int64_t min;
    uint64_t max;
};

IntegerRange RangeOf(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: return {true, INT8_MIN, INT8_MAX};
    case VT_I2: return {true, INT16_MIN, INT16_MAX};
    case VT_I4:
    case VT_INT: return {true, INT32_MIN, INT32_MAX};
    case VT_I8: return {true, INT64_MIN, INT64_MAX};
    case VT_UI1: return {false, 0, UINT8_MAX};
    case VT_UI2: return {false, 0, UINT16_MAX};
    case VT_UI4:
    case VT_UINT: return {false, 0, UINT32_MAX};
    default: return {false, 0, UINT64_MAX};  // VT_UI8
    }
}

HRESULT ToInteger(const Scalar& s, VARTYPE vt, uint64_t& bits)
{
    IntegerRange r = RangeOf(vt);
    switch (s.kind) {
    case Scalar::Empty: bits = 0; return S_OK;
    case Scalar::Bool:
        // Sign-extended: VARIANT_TRUE is -1 whatever the width, all bits set also for unsigned targets.
        bits = uint64_t(s.i);
        return S_OK;
    case Scalar::Signed:
        if (s.i < r.min || (s.i > 0 && uint64_t(s.i) > r.max)) return DISP_E_OVERFLOW;
        bits = uint64_t(s.i);
        return S_OK;
    case Scalar::Unsigned:
        if (s.u > r.max) return DISP_E_OVERFLOW;
        bits = s.u;
        return S_OK;
    case Scalar::Real: {
        double rounded = std::nearbyint(s.d);  // the default mode rounds ties to even
        // 2^63 and 2^64 are exact doubles, unlike INT64_MAX and UINT64_MAX.
        double limit = r.isSigned ? std::ldexp(1.0, 63) : std::ldexp(1.0, 64);
        if (!(rounded >= double(r.min)) || !(rounded < limit)) return DISP_E_OVERFLOW;
        if (r.isSigned) {
            int64_t value = int64_t(rounded);
            if (value < r.min || (value > 0 && uint64_t(value) > r.max)) return DISP_E_OVERFLOW;
            bits = uint64_t(value);
        } else {
            uint64_t value = uint64_t(rounded);
            if (value > r.max) return DISP_E_OVERFLOW;
            bits = value;
        }
        return S_OK;
    }
    case Scalar::Text: {
        std::optional<Scalar> number = ParseNumber(s.text);
        if (!number) return DISP_E_TYPEMISMATCH;
        return ToInteger(*number, vt, bits);
    }
    case Scalar::Error:
        // An error code reads as its 32-bit value.
        if (vt != VT_I4 && vt != VT_UI4 && vt != VT_INT && vt != VT_UINT) return DISP_E_TYPEMISMATCH;
        bits = uint32_t(s.scode);
        if (r.isSigned) bits = uint64_t(int64_t(s.scode));
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToReal(const Scalar& s, double& out)
{
    switch (s.kind) {
    case Scalar::Empty: out = 0; return S_OK;
    case Scalar::Bool: out = double(s.i); return S_OK;
    case Scalar::Signed: out = double(s.i); return S_OK;
    case Scalar::Unsigned: out = double(s.u); return S_OK;
    case Scalar::Real: out = s.d; return S_OK;
    case Scalar::Text: {
        std::optional<Scalar> number = ParseNumber(s.text);
        if (!number) return DISP_E_TYPEMISMATCH;
        HRESULT hr = ToReal(*number, out);
        if (SUCCEEDED(hr) && std::isinf(out)) return DISP_E_OVERFLOW;
        return hr;
    }
    case Scalar::Error: return DISP_E_TYPEMISMATCH;
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToBool(const Scalar& s, bool& out)
{
    switch (s.kind) {
    case Scalar::Empty: out = false; return S_OK;
    case Scalar::Bool: out = s.b; return S_OK;
    case Scalar::Signed: out = s.i != 0; return S_OK;
    case Scalar::Unsigned: out = s.u != 0; return S_OK;
    case Scalar::Real: out = s.d != 0; return S_OK;
    case Scalar::Text: {
        if (EqualsIgnoringCase(s.text, u"true")) return out = true, S_OK;
        if (EqualsIgnoringCase(s.text, u"false")) return out = false, S_OK;
        std::optional<Scalar> number = ParseNumber(s.text);
        if (!number) return DISP_E_TYPEMISMATCH;
        return ToBool(*number, out);
    }
    case Scalar::Error: return DISP_E_TYPEMISMATCH;
    }
    return DISP_E_TYPEMISMATCH;
}

// Numbers print as Windows prints them: integers in full, doubles with 15 significant
// digits and floats with 7, exponent form "1E+20" for large and small magnitudes.
HRESULT ToText(const Scalar& s, USHORT flags, BSTR& out)
{
    char buffer[64];
    switch (s.kind) {
    case Scalar::Empty: buffer[0] = 0; break;
    case Scalar::Bool:
        if (flags & VARIANT_ALPHABOOL)
            std::snprintf(buffer, sizeof buffer, "%s", s.b ? "True" : "False");
        else
            std::snprintf(buffer, sizeof buffer, "%d", int(s.i));
        break;
    case Scalar::Signed: std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(s.i)); break;
    case Scalar::Unsigned: std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(s.u)); break;
    case Scalar::Real: {
        auto end = std::to_chars(buffer, buffer + sizeof buffer - 1, s.d, std::chars_format::general, s.single ? 7 : 15).ptr;
        *end = 0;
        for (char* c = buffer; c != end; ++c) *c = char(std::toupper(uint8_t(*c)));  // 1E+20, INF, NAN
        break;
    }
    case Scalar::Text:
        out = SysAllocStringLen(s.text, SysStringLen(s.text));
        return out || !s.text ? S_OK : E_OUTOFMEMORY;
    case Scalar::Error: return DISP_E_TYPEMISMATCH;
    }
    out = SysAllocStringUtf8(buffer);
    return out ? S_OK : E_OUTOFMEMORY;
}

void StoreInteger(VARIANT& v, VARTYPE vt, uint64_t bits)
{
    v.llVal = 0;
    switch (vt) {
    case VT_I1: v.cVal = CHAR(int8_t(bits)); break;
    case VT_UI1: v.bVal = BYTE(bits); break;
    case VT_I2: v.iVal = SHORT(bits); break;
    case VT_UI2: v.uiVal = USHORT(bits); break;
    case VT_I4: v.lVal = LONG(bits); break;
    case VT_UI4: v.ulVal = ULONG(bits); break;
    case VT_INT: v.intVal = INT(bits); break;
    case VT_UINT: v.uintVal = UINT(bits); break;
    default: v.ullVal = bits; break;
    }
}

HRESULT Convert(const Scalar& s, USHORT flags, VARTYPE vt, VARIANT& out)
{
    VariantInit(&out);
    out.vt = vt;
    switch (vt) {
    case VT_EMPTY: return S_OK;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
        uint64_t bits = 0;
        HRESULT hr = ToInteger(s, vt, bits);
        StoreInteger(out, vt, bits);
        return hr;
    }
    case VT_R8: return ToReal(s, out.dblVal);
    case VT_R4: {
        double value = 0;
        HRESULT hr = ToReal(s, value);
        if (SUCCEEDED(hr) && std::isfinite(value) && std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
        out.fltVal = float(value);
        return hr;
    }
    case VT_BOOL: {
        bool value = false;
        HRESULT hr = ToBool(s, value);
        out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return hr;
    }
    case VT_BSTR: return ToText(s, flags, out.bstrVal);
    case VT_ERROR: {
        if (s.kind == Scalar::Error) return out.scode = s.scode, S_OK;
        uint64_t bits = 0;
        if (s.kind != Scalar::Signed && s.kind != Scalar::Unsigned) return DISP_E_TYPEMISMATCH;
        HRESULT hr = ToInteger(s, VT_UI4, bits);
        if (FAILED(hr) && s.kind == Scalar::Signed) hr = ToInteger(s, VT_I4, bits);
        out.scode = SCODE(uint32_t(bits));
        return hr;
    }
    default: return IsKnownType(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    }
}

}  // namespace

void VariantInit(VARIANT* v)
{
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->brecord.pvRecord = nullptr;
    v->brecord.pRecInfo = nullptr;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v) return E_INVALIDARG;
    if (!(v->vt & kTypeFlags)) {
        if (!IsKnownType(v->vt)) return DISP_E_BADVARTYPE;
        if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
        if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!(src->vt & kTypeFlags) && !IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal), SysStringByteLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    }
    if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) src->punkVal->AddRef();
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt)
{
    if (!dest || !src) return E_INVALIDARG;
    if ((src->vt | vt) & kTypeFlags) return DISP_E_BADVARTYPE;
    if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;
    if (src->vt == vt) return VariantCopy(dest, src);

    std::optional<Scalar> scalar = ReadScalar(*src);
    if (!scalar) return DISP_E_TYPEMISMATCH;
    VARIANT result;
    HRESULT hr = Convert(*scalar, flags, vt, result);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // Only now may the source go: with dest == src the conversion above still read it.
    VariantClear(dest);
    *dest = result;
    return S_OK;
}
