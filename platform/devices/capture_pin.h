// The capture output pin shared by the video and audio capture filters: pin category through
// IKsPropertySet, IAMStreamConfig over an ordered list of offered types, and a streaming loop
// that delivers only while the filter runs, stamps samples on the graph clock (from the
// device's capture times where it has them, see CaptureTimeline), and ends the stream with
// EC_ERRORABORT when the device is lost. Video and audio pins fill in the
// type-specific steps.
//
// Threads: the application thread configures the pin and changes state under the filter's
// state lock; the streaming thread never takes that lock. The clock and start time it needs
// are handed over in Run under clockLock_.
#pragma once

#include <mutex>

#include "../dshow/source.h"
#include "capture_backend.h"
#include "capture_timeline.h"

class CaptureFilter;

class CapturePin : public CSourceStream, public IKsPropertySet, public IAMStreamConfig {
public:
    CapturePin(HRESULT* phr, CaptureFilter* filter);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    // IKsPropertySet: AMPROPERTY_PIN_CATEGORY answers PIN_CATEGORY_CAPTURE.
    HRESULT STDMETHODCALLTYPE Set(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceSize, LPVOID propData,
                                  DWORD propSize) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceSize, LPVOID propData,
                                  DWORD propSize, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID propSet, DWORD id, DWORD* support) override;

    // IAMStreamConfig. After SetFormat the pin offers and accepts only that format (at any rate).
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // Negotiation.
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;

    // Streaming.
    HRESULT Active() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Inactive() override;
    void PauseDelivery();
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT FillBuffer(IMediaSample* sample) override;

protected:
    // The offered types in order, and their capabilities records.
    virtual int TypeCount() = 0;
    virtual void BuildType(int index, CMediaType* mt) = 0;
    virtual int CapsSize() = 0;
    virtual void FillCaps(int index, BYTE* caps) = 0;
    // Whether the device can run `mt` (either header kind, any rate); `normalized` (optional)
    // receives the offered type with the rate the device will really use.
    virtual bool Normalize(const AM_MEDIA_TYPE& mt, CMediaType* normalized) = 0;
    // Makes an accepted type the one the next start uses.
    virtual void Apply(const AM_MEDIA_TYPE& mt) = 0;

    virtual bool PacedByDevice() = 0;
    virtual bool StartDevice(std::string* error) = 0;
    virtual void StopDevice() = 0;
    // Length of the stream each sample covers, for pacing and stamping (valid once started).
    virtual REFERENCE_TIME SampleDuration() = 0;
    // Captures into the sample (length set) and tells when the device took it (monotonic,
    // -1 when unknown); Timeout when nothing came within timeoutMs.
    virtual CaptureResult CaptureSample(IMediaSample* sample, int timeoutMs, REFERENCE_TIME* taken) = 0;

    // A live source holds its samples while paused, and FillBuffer's S_FALSE only means that a
    // request is waiting; a failed capture still ends the stream with EC_ERRORABORT.
    bool DeliversNow() override;
    bool EndsStreamOnFalse() override { return false; }

private:
    // Stream time on the graph clock, or on the monotonic clock when the graph has none.
    REFERENCE_TIME StreamNow();
    // The stream time of a monotonic capture time, and of the last Run.
    void StreamTimes(REFERENCE_TIME taken, REFERENCE_TIME* at, REFERENCE_TIME* runStart);
    // Asks the device until a sample came (S_OK), a stop was requested (S_FALSE) or the
    // device is lost.
    HRESULT CaptureNext(IMediaSample* sample, REFERENCE_TIME* taken);
    enum class Wait { Due, Interrupted };
    Wait WaitUntil(REFERENCE_TIME streamTime);

    CMediaType setFormat_;  // what SetFormat chose (invalid until then)

    std::mutex clockLock_;
    ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME runStart_ = 0;  // stream time when the filter last started running
    bool running_ = false;

    // Streaming thread only.
    uint64_t samples_ = 0;
    REFERENCE_TIME base_ = 0;
    CaptureTimeline timeline_;
};

// The capture filter: one CapturePin, the device's friendly name as the filter's name. A live
// source: GetState reports VFW_S_CANT_CUE while paused.
class CaptureFilter : public CSource {
public:
    CaptureFilter(const char* objectName, REFCLSID clsid, HRESULT* phr);

    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    // The graph clock, with a reference (nullptr without one); the state lock must be held.
    ComPtr<IReferenceClock> Clock() { return ComPtr<IReferenceClock>(m_pClock); }
};
