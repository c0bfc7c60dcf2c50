// Media samples and allocators. An allocator owns a pool of samples made at Commit; a sample
// whose last reference is released goes back to the pool, so no memory is allocated per
// frame. Subclass CMediaSample to offer more interfaces on samples, and override
// CMemAllocator::CreateSample to pool such samples.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "combase.h"
#include "mtype.h"
#include "strmif.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample2 {
public:
    CMediaSample(const char* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer = nullptr,
                 LONG length = 0);
    virtual ~CMediaSample();
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    // IUnknown: IMediaSample, IMediaSample2. Override (and call this) to add interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    // The last release resets the sample and returns it to its allocator.
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override;
    LONG STDMETHODCALLTYPE GetSize() override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override;
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override;
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override;
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** mt) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override;
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) override;
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE* properties) override;
    HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE* properties) override;

    // Points the sample at memory it does not own.
    HRESULT SetPointer(BYTE* buffer, LONG length);

protected:
    friend class CBaseAllocator;
    // Called when the sample returns to the pool: clears flags, times and the type.
    virtual void ResetForReuse();

    enum : DWORD {
        Sample_SyncPoint = 0x01,
        Sample_Preroll = 0x02,
        Sample_Discontinuity = 0x04,
        Sample_TypeChanged = 0x08,
        Sample_TimeValid = 0x10,
        Sample_MediaTimeValid = 0x20,
        Sample_TimeDiscontinuity = 0x40,
        Sample_StopValid = 0x100,
    };

    DWORD m_dwFlags = 0;
    DWORD m_dwTypeSpecificFlags = 0;
    BYTE* m_pBuffer;
    LONG m_lActual = 0;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONG m_MediaEnd = 0;  // offset from m_MediaStart, as on Windows
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    DWORD m_dwStreamId = AM_STREAM_MEDIA;
    std::atomic<LONG> m_cRef{0};
};

class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(const char* name, IUnknown* outer, HRESULT* phr);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    // Free samples are released at once, outstanding ones when they come back; waiting
    // GetBuffer calls return VFW_E_NOT_COMMITTED.
    HRESULT STDMETHODCALLTYPE Decommit() override;
    // Blocks until a sample is free (unless AM_GBF_NOWAIT) or the allocator is decommitted.
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                        DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

protected:
    // Creates the pool (the samples go into m_lFree); called by Commit when needed.
    virtual HRESULT Alloc();
    // Drops the pool once every sample is back.
    virtual void Free() = 0;

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_freed;
    std::vector<CMediaSample*> m_lFree;
    LONG m_lAllocated = 0;  // samples in existence
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    bool m_bChanged = false;  // properties changed since the pool was made
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
};

// Samples over one block of memory allocated at Commit and kept until the properties change
// or the allocator goes away.
class CMemAllocator : public CBaseAllocator {
public:
    explicit CMemAllocator(const char* name = "CMemAllocator", IUnknown* outer = nullptr, HRESULT* phr = nullptr);
    ~CMemAllocator() override;
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

protected:
    HRESULT Alloc() override;
    void Free() override {}
    // Makes one pooled sample over [buffer, buffer + length).
    virtual CMediaSample* CreateSample(BYTE* buffer, LONG length, HRESULT* phr);

private:
    void ReallyFree();
    BYTE* m_pBuffer = nullptr;
    std::vector<CMediaSample*> m_all;
};
