#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <variant>

#include "com/variant.h"

namespace {

// One side of a conversion: a type and its value (numbers as the widest C++ type, text as UTF-8).
struct Value {
    VARTYPE vt;
    std::variant<int64_t, uint64_t, double, std::string> value;
};

Value I1(int64_t v) { return {VT_I1, v}; }
Value UI1(uint64_t v) { return {VT_UI1, v}; }
Value I2(int64_t v) { return {VT_I2, v}; }
Value UI2(uint64_t v) { return {VT_UI2, v}; }
Value I4(int64_t v) { return {VT_I4, v}; }
Value UI4(uint64_t v) { return {VT_UI4, v}; }
Value Int(int64_t v) { return {VT_INT, v}; }
Value UInt(uint64_t v) { return {VT_UINT, v}; }
Value I8(int64_t v) { return {VT_I8, v}; }
Value UI8(uint64_t v) { return {VT_UI8, v}; }
Value R4(double v) { return {VT_R4, v}; }
Value R8(double v) { return {VT_R8, v}; }
Value Bool(int64_t v) { return {VT_BOOL, v}; }
Value Str(std::string v) { return {VT_BSTR, std::move(v)}; }
Value Err(int64_t v) { return {VT_ERROR, v}; }
Value Empty() { return {VT_EMPTY, int64_t(0)}; }

int64_t AsSigned(const Value& v) { return std::holds_alternative<int64_t>(v.value) ? std::get<int64_t>(v.value) : int64_t(std::get<uint64_t>(v.value)); }
uint64_t AsUnsigned(const Value& v) { return std::holds_alternative<uint64_t>(v.value) ? std::get<uint64_t>(v.value) : uint64_t(std::get<int64_t>(v.value)); }

void Fill(VARIANT& out, const Value& v)
{
    VariantInit(&out);
    out.vt = v.vt;
    switch (v.vt) {
    case VT_I1: out.cVal = CHAR(AsSigned(v)); break;
    case VT_UI1: out.bVal = BYTE(AsUnsigned(v)); break;
    case VT_I2: out.iVal = SHORT(AsSigned(v)); break;
    case VT_UI2: out.uiVal = USHORT(AsUnsigned(v)); break;
    case VT_I4: out.lVal = LONG(AsSigned(v)); break;
    case VT_UI4: out.ulVal = ULONG(AsUnsigned(v)); break;
    case VT_INT: out.intVal = INT(AsSigned(v)); break;
    case VT_UINT: out.uintVal = UINT(AsUnsigned(v)); break;
    case VT_I8: out.llVal = AsSigned(v); break;
    case VT_UI8: out.ullVal = AsUnsigned(v); break;
    case VT_R4: out.fltVal = float(std::get<double>(v.value)); break;
    case VT_R8: out.dblVal = std::get<double>(v.value); break;
    case VT_BOOL: out.boolVal = VARIANT_BOOL(AsSigned(v)); break;
    case VT_BSTR: out.bstrVal = SysAllocStringUtf8(std::get<std::string>(v.value)); break;
    case VT_ERROR: out.scode = SCODE(AsSigned(v)); break;
    default: break;
    }
}

std::string Describe(const VARIANT& v)
{
    switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_I1: return "I1 " + std::to_string(int(v.cVal));
    case VT_UI1: return "UI1 " + std::to_string(v.bVal);
    case VT_I2: return "I2 " + std::to_string(v.iVal);
    case VT_UI2: return "UI2 " + std::to_string(v.uiVal);
    case VT_I4: return "I4 " + std::to_string(v.lVal);
    case VT_UI4: return "UI4 " + std::to_string(v.ulVal);
    case VT_INT: return "INT " + std::to_string(v.intVal);
    case VT_UINT: return "UINT " + std::to_string(v.uintVal);
    case VT_I8: return "I8 " + std::to_string(v.llVal);
    case VT_UI8: return "UI8 " + std::to_string(v.ullVal);
    case VT_R4: return "R4 " + std::to_string(v.fltVal);
    case VT_R8: return "R8 " + std::to_string(v.dblVal);
    case VT_BOOL: return "BOOL " + std::to_string(v.boolVal);
    case VT_BSTR: return "BSTR \"" + Utf8FromBstr(v.bstrVal) + "\"";
    case VT_ERROR: return "ERROR " + std::to_string(v.scode);
    default: return "vt " + std::to_string(v.vt);
    }
}

struct Row {
    Value from;
    Value to;  // expected result; its value is ignored when hr fails
    HRESULT hr = S_OK;
    USHORT flags = 0;
};

TEST(VariantChangeType, FollowsTheWindowsConversionTable)
{
    const Row rows[] = {
        // Text to numbers.
        {Str("16"), R8(16.0)},
        {Str(" -2.5e1 "), R8(-25.0)},
        {Str("1,000"), I4(1000)},
        {Str("abc"), I4(0), DISP_E_TYPEMISMATCH},
        {Str(""), I4(0), DISP_E_TYPEMISMATCH},
        {Str("12abc"), R8(0), DISP_E_TYPEMISMATCH},
        {Str("2.5"), I4(2)},
        {Str("3.5"), I4(4)},
        {Str("70000"), I2(0), DISP_E_OVERFLOW},
        {Str("-1"), UI4(0), DISP_E_OVERFLOW},
        {Str("18446744073709551615"), UI8(UINT64_MAX)},
        {Str("-9223372036854775808"), I8(INT64_MIN)},
        {Str("1e999"), R8(0), DISP_E_OVERFLOW},
        // Integer range checks.
        {I4(70000), I2(0), DISP_E_OVERFLOW},
        {I4(-32768), I2(-32768)},
        {I4(-1), UI1(0), DISP_E_OVERFLOW},
        {I4(65535), UI2(65535)},
        {UI4(255), UI1(255)},
        {UI4(256), I1(0), DISP_E_OVERFLOW},
        {I2(-128), I1(-128)},
        {UI8(UINT64_MAX), I8(0), DISP_E_OVERFLOW},
        {I8(INT64_MAX), UI8(uint64_t(INT64_MAX))},
        {I8(int64_t(1) << 32), Int(0), DISP_E_OVERFLOW},
        {UInt(4000000000u), I4(0), DISP_E_OVERFLOW},
        {Int(-5), I8(-5)},
        // Floats to integers round half to even.
        {R8(0.5), I4(0)},
        {R8(1.5), I4(2)},
        {R8(2.5), I4(2)},
        {R8(-2.5), I4(-2)},
        {R8(-0.4), UI1(0)},
        {R8(-0.6), UI1(0), DISP_E_OVERFLOW},
        {R8(255.4), UI1(255)},
        {R8(255.5), UI1(0), DISP_E_OVERFLOW},
        {R4(2147483648.0), I4(0), DISP_E_OVERFLOW},
        {R8(NAN), I4(0), DISP_E_OVERFLOW},
        {R8(9.3e18), I8(0), DISP_E_OVERFLOW},
        {R8(1e40), R4(0), DISP_E_OVERFLOW},
        {R8(0.25), R4(0.25)},
        // Booleans.
        {Bool(VARIANT_TRUE), I4(-1)},
        {Bool(VARIANT_TRUE), UI1(255)},
        {Bool(VARIANT_FALSE), R8(0.0)},
        {Bool(VARIANT_TRUE), R8(-1.0)},
        {Bool(VARIANT_TRUE), UI2(65535)},
        // A VT_BOOL holding 1 keeps its 16-bit value, as Windows converts it.
        {Bool(1), I2(1)},
        {Bool(1), UI2(1)},
        {Bool(1), R8(1.0)},
        {Bool(1), Str("1")},
        {Bool(1), Bool(1)},
        {Bool(1), Str("True"), S_OK, VARIANT_ALPHABOOL},
        {I4(1), Bool(VARIANT_TRUE)},
        {R8(0.0), Bool(VARIANT_FALSE)},
        {R8(0.1), Bool(VARIANT_TRUE)},
        {Str("True"), Bool(VARIANT_TRUE)},
        {Str("false"), Bool(VARIANT_FALSE)},
        {Str("0"), Bool(VARIANT_FALSE)},
        {Str("2"), Bool(VARIANT_TRUE)},
        {Str("yes"), Bool(0), DISP_E_TYPEMISMATCH},
        {Bool(VARIANT_TRUE), Str("-1")},
        {Bool(VARIANT_TRUE), Str("True"), S_OK, VARIANT_ALPHABOOL},
        {Bool(VARIANT_FALSE), Str("False"), S_OK, VARIANT_ALPHABOOL},
        // Numbers to text.
        {I4(-42), Str("-42")},
        {UI8(UINT64_MAX), Str("18446744073709551615")},
        {R8(16.0), Str("16")},
        {R8(0.1), Str("0.1")},
        {R8(1e20), Str("1E+20")},
        {R8(1.5e-7), Str("1.5E-07")},
        {R8(1.0 / 3.0), Str("0.333333333333333")},
        {R4(0.1f), Str("0.1")},
        // Empty.
        {Empty(), I4(0)},
        {Empty(), R8(0.0)},
        {Empty(), Str("")},
        {Empty(), Bool(VARIANT_FALSE)},
        {I4(7), Empty()},
        // Error codes.
        {Err(int32_t(0x80004005)), I4(int32_t(0x80004005))},
        {I4(5), Err(5)},
        {Err(1), R8(0), DISP_E_TYPEMISMATCH},
        {Err(1), Str(""), DISP_E_TYPEMISMATCH},
        {Str("1"), Err(0), DISP_E_TYPEMISMATCH},
    };
    for (const Row& row : rows) {
        VARIANT src, dest, expected;
        Fill(src, row.from);
        Fill(expected, row.to);
        VariantInit(&dest);
        HRESULT hr = VariantChangeType(&dest, &src, row.flags, row.to.vt);
        std::string context = Describe(src) + " -> vt " + std::to_string(row.to.vt);
        EXPECT_EQ(hr, row.hr) << context;
        if (SUCCEEDED(hr) && SUCCEEDED(row.hr)) {
            EXPECT_EQ(Describe(dest), Describe(expected)) << context;
        }
        if (FAILED(hr)) {
            EXPECT_EQ(dest.vt, VT_EMPTY) << context << ": a failed conversion leaves dest alone";
        }
        VariantClear(&src);
        VariantClear(&dest);
        VariantClear(&expected);
    }
}

TEST(VariantChangeType, ConvertsInPlaceAndRejectsUnknownTypes)
{
    VARIANT v;
    Fill(v, Str("16"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
    EXPECT_EQ(v.vt, VT_R8);
    EXPECT_EQ(v.dblVal, 16.0);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Utf8FromBstr(v.bstrVal), "16");
    // A failed in-place conversion keeps the value.
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_ERROR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(VariantChangeType(&v, &v, 0, 15), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_DATE), DISP_E_TYPEMISMATCH);
    VariantClear(&v);

    // Copies own their text.
    VARIANT a, b;
    Fill(a, Str("copy me"));
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    VariantClear(&a);
    EXPECT_EQ(Utf8FromBstr(b.bstrVal), "copy me");
    VariantClear(&b);
}

TEST(Bstr, KeepsTheWindowsLayout)
{
    BSTR s = SysAllocStringUtf8("h\xC3\xA9llo \xF0\x9F\x8E\xA5");  // U+1F3A5 takes a surrogate pair
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 8u);
    EXPECT_EQ(SysStringByteLen(s), 16u);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 16u);
    EXPECT_EQ(s[1], u'\u00E9');
    EXPECT_EQ(s[6], char16_t(0xD83C));
    EXPECT_EQ(s[8], 0);
    EXPECT_EQ(Utf8FromBstr(s), "h\xC3\xA9llo \xF0\x9F\x8E\xA5");
    SysFreeString(s);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(reinterpret_cast<char*>(odd)[3], 0);
    EXPECT_EQ(reinterpret_cast<char*>(odd)[4], 0);
    SysFreeString(odd);

    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(Utf8FromBstr(nullptr), "");
    SysFreeString(nullptr);
}

TEST(Utf, ReplacesMalformedSequences)
{
    EXPECT_EQ(Utf16FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");           // overlong NUL
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(Utf16FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");           // truncated at the end
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
