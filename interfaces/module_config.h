// Parameter-by-identifier configuration of a module (IModuleConfig with one IParamConfig per
// parameter), and the video scaler's class id and parameter identifiers that a host needs.
#pragma once

#include "com/stream.h"
#include "com/variant.h"
#include "registry/registry.h"

constexpr GUID IID_IModuleConfig = {0x486F726E, 0x4D43, 0x49B9, {0x8A, 0x0C, 0xC2, 0x2A, 0x2B, 0x05, 0x24, 0xE8}};
constexpr GUID IID_IParamConfig = {0x486F726E, 0x5043, 0x49B9, {0x8A, 0x0C, 0xC2, 0x2A, 0x2B, 0x05, 0x24, 0xE8}};

struct IParamConfig;

// Receives the ids of every applied change set; the first two slots are not called.
struct IModuleCallback : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnModuleNotify(LONG count, const GUID* ids) = 0;
};

// Typed parameters addressed by GUID; changes stay pending until committed as one change set.
// IPersistStream saves and loads every writable parameter.
struct IModuleConfig : IPersistStream {
    virtual HRESULT STDMETHODCALLTYPE SetValue(const GUID* id, const VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(const GUID* id, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamConfig(const GUID* id, IParamConfig** config) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSupported(const GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetToDefaults() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumParams(LONG* count, GUID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitChanges(VARIANT* reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeclineChanges() = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveToRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromRegistry(HKEY root, const WCHAR* keyPath, BOOL perValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNotifySink(IModuleCallback* sink) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveNotifySink(IModuleCallback* sink) = 0;
};
VELTRO_INTERFACE_ID(IModuleConfig, IID_IModuleConfig);

// One parameter of an IModuleConfig.
struct IParamConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(VARIANT* value, BOOL applyNow) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(VARIANT* value, BOOL applied) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVisible(BOOL visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVisible(BOOL* visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamID(GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReadOnly(BOOL* readOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInfo(VARIANT* value, BSTR* valueText, BSTR* name, BOOL* readOnly,
                                              BOOL* visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefault(VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRange(VARIANT* minimum, VARIANT* maximum, VARIANT* step) = 0;
    virtual HRESULT STDMETHODCALLTYPE ListValidValues(LONG* count, VARIANT* values, BSTR* meanings) = 0;
    virtual HRESULT STDMETHODCALLTYPE ValueToText(VARIANT* value, BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE TextToValue(BSTR text, VARIANT* value) = 0;
};
VELTRO_INTERFACE_ID(IParamConfig, IID_IParamConfig);

// The video scaler filter ("Tolvane Video Scaler", filters/scalvo.ax).
constexpr GUID CLSID_TolvaneVideoScaler = {0x3E804268, 0xA7B0, 0x4F41, {0x85, 0x3B, 0x1B, 0x41, 0x9A, 0x51, 0x77, 0x2A}};

// The scaler's parameters, in the order the filter registers them.
constexpr GUID SCALVO_PARAM_SOURCE_FRAME_WIDTH = {0x8D41AEEE, 0x33AD, 0x4137, {0x9F, 0x5E, 0xFC, 0xCD, 0x01, 0xDC, 0x08, 0xFC}};  // "Source Frame Width"
constexpr GUID SCALVO_PARAM_SOURCE_FRAME_HEIGHT = {0x171205C8, 0x6CC6, 0x4D2B, {0x9D, 0x75, 0x49, 0xF5, 0x0B, 0xE0, 0x4B, 0x69}};  // "Source Frame Height"
constexpr GUID SCALVO_PARAM_SOURCE_AR_WIDTH = {0x93F4076E, 0xB71E, 0x4D65, {0xAB, 0xAA, 0x11, 0x8A, 0x07, 0xA2, 0x8A, 0x2F}};  // "Source AR Width Coefficient"
constexpr GUID SCALVO_PARAM_SOURCE_AR_HEIGHT = {0x5EE35D10, 0x4AF2, 0x489E, {0x9F, 0x74, 0xF7, 0xEC, 0x4C, 0xF2, 0x1D, 0xE9}};  // "Source AR Height Coefficient"
constexpr GUID SCALVO_PARAM_SOURCE_SUBTYPE = {0x65455A1B, 0x33ED, 0x4577, {0x80, 0x76, 0x28, 0x29, 0x16, 0xC0, 0xA0, 0x20}};  // "Source Stream Media SubType"
constexpr GUID SCALVO_PARAM_SOURCE_INTERLACE = {0x38BD496D, 0xBC80, 0x43FF, {0x82, 0x7D, 0x50, 0x72, 0xC3, 0x1F, 0x6C, 0xB9}};  // "Source Stream Interlace Information"
constexpr GUID SCALVO_PARAM_INTERLACE_STATE = {0x5D9AF7EA, 0x7C8A, 0x4D10, {0xB3, 0x99, 0x8C, 0x80, 0x09, 0xEF, 0xE4, 0xBB}};  // "Interlace state definition"
constexpr GUID SCALVO_PARAM_CROPPING_STATE = {0x1D712BC9, 0x844A, 0x4A3C, {0x9F, 0xF7, 0x1B, 0x4F, 0x81, 0xFB, 0xC6, 0x0C}};  // "Cropping Option State"
constexpr GUID SCALVO_PARAM_LEFT_CROPPING = {0x9BEBC96B, 0xE618, 0x4F0B, {0xAD, 0x95, 0x75, 0x38, 0xB6, 0x87, 0xB2, 0x3F}};  // "Left Cropping"
constexpr GUID SCALVO_PARAM_TOP_CROPPING = {0x986DA1C5, 0xDCA2, 0x4C01, {0x8D, 0x40, 0x25, 0xEA, 0x7A, 0x48, 0x5C, 0x3F}};  // "Top Cropping"
constexpr GUID SCALVO_PARAM_RIGHT_CROPPING = {0x91257FDF, 0xDB29, 0x4DCB, {0x84, 0x85, 0x26, 0xB8, 0xAE, 0x1D, 0xA4, 0x1C}};  // "Right Cropping"
constexpr GUID SCALVO_PARAM_BOTTOM_CROPPING = {0xA4E4903B, 0x8769, 0x4450, {0xA1, 0x1D, 0xFE, 0x2D, 0x73, 0xE1, 0x00, 0x92}};  // "Bottom Cropping"
constexpr GUID SCALVO_PARAM_RESIZING_STATE = {0x2183481E, 0xDE48, 0x48AA, {0xB7, 0x12, 0x5A, 0xEA, 0xE8, 0xF9, 0x0B, 0x1F}};  // "Resizing Option State"
constexpr GUID SCALVO_PARAM_RESIZED_WIDTH = {0xE68627A8, 0xB719, 0x43B4, {0xAD, 0x6E, 0xF2, 0x7F, 0x17, 0xBB, 0x09, 0x05}};  // "Resized Frame Width"
constexpr GUID SCALVO_PARAM_RESIZED_HEIGHT = {0x4751F566, 0x81EB, 0x4C44, {0x9D, 0x3F, 0xAF, 0xF1, 0x1B, 0xAE, 0xF7, 0xD1}};  // "Resized Frame Height"
constexpr GUID SCALVO_PARAM_RESIZING_METHOD = {0x8DD07DB1, 0x6EA6, 0x4948, {0x8B, 0x0B, 0x93, 0x7B, 0xEC, 0xBB, 0xB6, 0x09}};  // "Resizing Method"
constexpr GUID SCALVO_PARAM_AR_CHANGE_STATE = {0x7EF90064, 0x44CE, 0x451E, {0xAD, 0x15, 0xF5, 0x59, 0x37, 0xB3, 0x3C, 0xB0}};  // "Changing AR Option State"
constexpr GUID SCALVO_PARAM_TARGET_AR_WIDTH = {0x7C799707, 0x77CF, 0x476B, {0xA0, 0x04, 0x8B, 0xB7, 0x89, 0x54, 0xA4, 0x8F}};  // "Target AR Width Coefficient"
constexpr GUID SCALVO_PARAM_TARGET_AR_HEIGHT = {0xF6A34E39, 0xC883, 0x41E2, {0xA0, 0x88, 0x06, 0xBE, 0x32, 0x4F, 0x7C, 0x7F}};  // "Target AR Height Coefficient"
constexpr GUID SCALVO_PARAM_AR_METHOD = {0x99DDA247, 0x4A3E, 0x473A, {0x88, 0xDA, 0x9B, 0xFC, 0x60, 0xDE, 0xE4, 0xAC}};  // "Changing AR Method"
constexpr GUID SCALVO_PARAM_VBI_MODE = {0x58D98FB5, 0x3EA9, 0x4C28, {0x8D, 0xE2, 0x42, 0x36, 0x6D, 0x10, 0xF5, 0xB5}};  // "VBI using mode"
constexpr GUID SCALVO_PARAM_COLOR_CONVERSION = {0xD89357EA, 0xE2EB, 0x4C95, {0xBC, 0x9B, 0x0D, 0x27, 0x2B, 0x50, 0xFC, 0x76}};  // "Color space conversion"
constexpr GUID SCALVO_PARAM_AFFINITY_MASK = {0xD030CB55, 0xC27C, 0x4EAA, {0x93, 0xCC, 0x1D, 0xD1, 0x3F, 0xE2, 0xA5, 0x15}};  // "Affinity Mask"
