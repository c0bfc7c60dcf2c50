// BSTR and VARIANT with the Windows semantics that filters and hosts rely on.
#pragma once

#include <string>
#include <string_view>

#include "unknown.h"

// A BSTR points at UTF-16 code units, preceded by a 32-bit byte length and followed by a
// 16-bit terminator, exactly as on Windows; a null BSTR is an empty string.
using OLECHAR = WCHAR;
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// UTF-8 <-> BSTR. Invalid UTF-8 sequences become U+FFFD.
BSTR SysAllocStringUtf8(std::string_view utf8);
std::string Utf8FromBstr(BSTR text);
std::u16string Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::u16string_view utf16);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using SCODE = int32_t;
using DATE = double;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
};

union CY {
    struct {
        uint32_t Lo;
        int32_t Hi;
    } s;
    int64_t int64;
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecord;
    };
};
static_assert(sizeof(VARIANT) == 24, "VARIANT keeps the 64-bit Windows size");

using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest; dest may equal src (in-place conversion).
// Numbers round to nearest, ties to even; out-of-range gives DISP_E_OVERFLOW; text that is
// not a number gives DISP_E_TYPEMISMATCH; booleans are VARIANT_TRUE (-1) or VARIANT_FALSE.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Owning VARIANT for C++ callers: cleared on destruction.
class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&v_); }
    ~ScopedVariant() { VariantClear(&v_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* operator&() { return &v_; }
    VARIANT* get() { return &v_; }
    VARIANT* operator->() { return &v_; }

private:
    VARIANT v_;
};
