// Sample Grabber: a pass-through that shows each sample to the host (a callback and/or a
// copy of the last buffer) and can restrict the types it accepts.
#include <cstring>
#include <mutex>
#include <vector>

#include "../dshow/qedit.h"
#include "../dshow/transip.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"

namespace {

class CSampleGrabber : public CTransInPlaceFilter, public ISampleGrabber {
public:
    CSampleGrabber(IUnknown* outer, HRESULT* phr)
        : CTransInPlaceFilter("Sample Grabber", outer, CLSID_SampleGrabber, phr, false)
    {
    }
    ~CSampleGrabber() override
    {
        if (callback_) callback_->Release();
    }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_ISampleGrabber) return GetInterface(static_cast<ISampleGrabber*>(this), ppv);
        return CTransInPlaceFilter::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT CheckInputType(const CMediaType* mt) override
    {
        std::lock_guard lock(mutex_);
        if (accepted_.majortype != GUID_NULL && accepted_.majortype != mt->majortype) return VFW_E_TYPE_NOT_ACCEPTED;
        if (accepted_.subtype != GUID_NULL && accepted_.subtype != mt->subtype) return VFW_E_TYPE_NOT_ACCEPTED;
        if (accepted_.formattype != GUID_NULL && accepted_.formattype != mt->formattype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT Transform(IMediaSample* sample) override
    {
        ISampleGrabberCB* callback;
        LONG which;
        {
            std::lock_guard lock(mutex_);
            if (oneShot_ && oneShotDone_) return S_FALSE;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            LONG length = sample->GetActualDataLength();
            if (buffering_) {
                buffer_.assign(data, data + length);
                hasBuffer_ = true;
            }
            callback = callback_;
            which = which_;
            if (callback) callback->AddRef();
        }
        REFERENCE_TIME start = 0, end = 0;
        sample->GetTime(&start, &end);
        double seconds = double(start) / 1e7;
        if (callback) {
            if (which == 0) {
                callback->SampleCB(seconds, sample);
            } else {
                BYTE* data = nullptr;
                sample->GetPointer(&data);
                callback->BufferCB(seconds, data, sample->GetActualDataLength());
            }
            callback->Release();
        }
        bool finish = false;
        {
            std::lock_guard lock(mutex_);
            if (oneShot_ && !oneShotDone_) finish = oneShotDone_ = true;
        }
        if (finish) {
            // One-shot: the sample goes on, then the stream ends here.
            HRESULT hr = m_pOutput->Deliver(sample);
            m_pOutput->DeliverEndOfStream();
            NotifyEvent(EC_COMPLETE, S_OK, 0);
            return SUCCEEDED(hr) ? S_FALSE : hr;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override
    {
        HRESULT hr = CTransInPlaceFilter::Stop();
        std::lock_guard lock(mutex_);
        oneShotDone_ = false;
        return hr;
    }

    // ---- ISampleGrabber

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) override
    {
        std::lock_guard lock(mutex_);
        oneShot_ = oneShot != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* mt) override
    {
        std::lock_guard lock(mutex_);
        if (mt)
            accepted_ = *mt;
        else
            accepted_ = CMediaType(&GUID_NULL);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* mt) override
    {
        if (!mt) return E_POINTER;
        CBasePin* in = GetPin(0);
        if (!in || !in->IsConnected()) return VFW_E_NOT_CONNECTED;
        return in->ConnectionMediaType(mt);
    }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) override
    {
        std::lock_guard lock(mutex_);
        buffering_ = buffer != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* size, LONG* buffer) override
    {
        if (!size) return E_POINTER;
        std::lock_guard lock(mutex_);
        if (!buffering_) return E_INVALIDARG;
        if (!hasBuffer_) return VFW_E_WRONG_STATE;
        LONG needed = LONG(buffer_.size());
        if (!buffer) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) return E_OUTOFMEMORY;
        std::memcpy(buffer, buffer_.data(), buffer_.size());
        *size = needed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG which) override
    {
        if (which != 0 && which != 1) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        if (callback) callback->AddRef();
        if (callback_) callback_->Release();
        callback_ = callback;
        which_ = which;
        return S_OK;
    }

private:
    std::mutex mutex_;
    CMediaType accepted_{&GUID_NULL};
    bool oneShot_ = false;
    bool oneShotDone_ = false;
    bool buffering_ = false;
    bool hasBuffer_ = false;
    std::vector<BYTE> buffer_;
    ISampleGrabberCB* callback_ = nullptr;
    LONG which_ = 0;
};

}  // namespace

CUnknown* CreateSampleGrabber(IUnknown* outer, HRESULT* phr) { return new CSampleGrabber(outer, phr); }
