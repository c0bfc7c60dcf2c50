// The Sample Grabber's interfaces.
#pragma once

#include "strmif.h"

constexpr GUID IID_ISampleGrabberCB = {0x0579154A, 0x2B53, 0x4994, {0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85}};
constexpr GUID IID_ISampleGrabber = {0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};

struct ISampleGrabberCB : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;
};
VELTRO_INTERFACE_ID(ISampleGrabberCB, IID_ISampleGrabberCB);

struct ISampleGrabber : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) = 0;
    // With buffer == nullptr, *size receives the needed size.
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) = 0;
    // which: 0 calls SampleCB, 1 calls BufferCB.
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG which) = 0;
};
VELTRO_INTERFACE_ID(ISampleGrabber, IID_ISampleGrabber);
