// The level meters' sample-grabber callbacks: each keeps the latest peak of its channel for
// the meter timer to read on the main thread.
#pragma once

#include <atomic>

#include "com/unknown.h"
#include "dshow/qedit.h"

class TAudio_Grabber : public ComObject<ISampleGrabberCB> {
public:
    // Runs on the grabber's streaming thread: scans the buffer and stores one number.
    HRESULT STDMETHODCALLTYPE BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen) override;
    HRESULT STDMETHODCALLTYPE SampleCB(double SampleTime, IMediaSample* pSample) override { return E_NOTIMPL; }

    uint16_t Peak() const { return peak_.load(std::memory_order_relaxed); }
    void Clear() { peak_.store(0, std::memory_order_relaxed); }

private:
    std::atomic<uint16_t> peak_{0};
};
