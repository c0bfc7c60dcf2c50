// Class ids and control interfaces of the outside filters that the pipeline loads from its
// filters folder. The filter libraries implement them; hosts and the sink only call them.
#pragma once

#include "com/unknown.h"

// Class ids, as the pipeline asks the libraries' class factories for them.
constexpr GUID CLSID_KeshControlFps = {0xA415A0C0, 0x8BD2, 0x4239, {0xAF, 0x67, 0xB9, 0xDC, 0x43, 0x59, 0x00, 0xCF}};
constexpr GUID CLSID_KeshInfTee = {0x17B0F93C, 0x45D2, 0x4C25, {0xA5, 0x0F, 0xC8, 0x71, 0x5B, 0x78, 0xFB, 0x91}};
constexpr GUID CLSID_MonogramX264 = {0x1FB0F046, 0x623C, 0x40A7, {0xB4, 0x39, 0x41, 0xE4, 0xBF, 0xCB, 0x8B, 0xAB}};
constexpr GUID CLSID_KeshAudioVolume = {0x766B3D6C, 0x2ABA, 0x4C11, {0x9D, 0xD1, 0xD6, 0xCA, 0xCC, 0x71, 0x0C, 0x0E}};
constexpr GUID CLSID_KeshStereoSplitter = {0xE06253C9, 0x40F2, 0x458D, {0x8E, 0xFA, 0x85, 0x97, 0xDE, 0x80, 0x26, 0xFE}};
constexpr GUID CLSID_MonogramAAC = {0x88F36DB6, 0xD898, 0x40B5, {0xB4, 0x09, 0x46, 0x6A, 0x0E, 0xEC, 0xC2, 0x6A}};
constexpr GUID CLSID_KeshAudioGenerator = {0x79A98DE0, 0xBC00, 0x11CE, {0xAC, 0x2E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID CLSID_MP4Muxer = {0xDF696702, 0xD81B, 0x4250, {0xB0, 0x8F, 0x55, 0x56, 0x60, 0x30, 0x98, 0x49}};

constexpr GUID IID_IControlFps = {0xF644A739, 0x3B03, 0x4804, {0x9E, 0x1B, 0x22, 0xA6, 0xB8, 0xAB, 0x5B, 0x84}};
constexpr GUID IID_IIAudioVolume = {0x263A672B, 0x7A43, 0x40BE, {0xA6, 0x64, 0x9B, 0x85, 0x4A, 0xC3, 0xA3, 0x28}};
constexpr GUID IID_IEncoderSampleTimes = {0x5C4B73E4, 0xDBF8, 0x4146, {0xA6, 0xF6, 0x8D, 0x0F, 0x30, 0xFA, 0x4C, 0x41}};

// Frame-rate limiter: true passes every second frame, false passes all.
struct IControlFps : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetHalfFrameRate(BOOL half) = 0;
};
VELTRO_INTERFACE_ID(IControlFps, IID_IControlFps);

// Audio volume filter: true mutes (silence out), false passes.
struct IIAudioVolume : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetMute(BOOL mute) = 0;
};
VELTRO_INTERFACE_ID(IIAudioVolume, IID_IIAudioVolume);

// Offered by the H.264 encoder's samples. Slot 3 is not used by the sink; slot 4 fills the
// presentation time, the decoding time and a third time (100-ns units).
struct IEncoderSampleTimes : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSampleFlags(DWORD* flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSampleTimes(REFERENCE_TIME* presentation, REFERENCE_TIME* decoding,
                                                     REFERENCE_TIME* reserved) = 0;
};
VELTRO_INTERFACE_ID(IEncoderSampleTimes, IID_IEncoderSampleTimes);
