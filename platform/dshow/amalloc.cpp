#include "amalloc.h"

#include <cstdlib>
#include <cstring>

CMediaSample::CMediaSample(const char*, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer, LONG length)
    : m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator)
{
    if (!allocator && phr) *phr = E_OUTOFMEMORY;
}

CMediaSample::~CMediaSample()
{
    if (m_pMediaType) DeleteMediaType(m_pMediaType);
}

HRESULT STDMETHODCALLTYPE CMediaSample::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMediaSample || iid == IID_IMediaSample2) {
        *ppv = static_cast<IMediaSample2*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CMediaSample::AddRef() { return ULONG(m_cRef.fetch_add(1) + 1); }

ULONG STDMETHODCALLTYPE CMediaSample::Release()
{
    LONG left = m_cRef.fetch_sub(1) - 1;
    if (left == 0) {
        ResetForReuse();
        m_pAllocator->ReleaseBuffer(this);
    }
    return ULONG(left);
}

void CMediaSample::ResetForReuse()
{
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    m_dwFlags = 0;
    m_dwTypeSpecificFlags = 0;
    m_dwStreamId = AM_STREAM_MEDIA;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetPointer(BYTE** buffer)
{
    if (!buffer) return E_POINTER;
    *buffer = m_pBuffer;
    return S_OK;
}

LONG STDMETHODCALLTYPE CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT STDMETHODCALLTYPE CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    if (!(m_dwFlags & Sample_StopValid)) {
        if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
        if (start) *start = m_Start;
        // Only the start is known: the end is reported one unit later.
        if (end) *end = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    if (start) *start = m_Start;
    if (end) *end = m_End;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    if (!start) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    } else if (!end) {
        m_Start = *start;
        m_dwFlags |= Sample_TimeValid;
        m_dwFlags &= ~Sample_StopValid;
    } else {
        m_Start = *start;
        m_End = *end;
        m_dwFlags |= Sample_TimeValid | Sample_StopValid;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CMediaSample::SetSyncPoint(BOOL sync)
{
    m_dwFlags = sync ? (m_dwFlags | Sample_SyncPoint) : (m_dwFlags & ~Sample_SyncPoint);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CMediaSample::SetPreroll(BOOL preroll)
{
    m_dwFlags = preroll ? (m_dwFlags | Sample_Preroll) : (m_dwFlags & ~Sample_Preroll);
    return S_OK;
}

LONG STDMETHODCALLTYPE CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT STDMETHODCALLTYPE CMediaSample::SetActualDataLength(LONG length)
{
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt)
{
    if (!mt) return E_POINTER;
    if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) {
        *mt = nullptr;
        return S_FALSE;
    }
    *mt = CreateMediaType(m_pMediaType);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt)
{
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    if (!mt) {
        m_dwFlags &= ~Sample_TypeChanged;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(mt);
    if (!m_pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsDiscontinuity()
{
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetDiscontinuity(BOOL discontinuity)
{
    m_dwFlags = discontinuity ? (m_dwFlags | Sample_Discontinuity) : (m_dwFlags & ~Sample_Discontinuity);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end)
{
    if (!start || !end) return E_POINTER;
    if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_MediaStart;
    *end = m_MediaStart + m_MediaEnd;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end)
{
    if (!start) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return S_OK;
    }
    if (!end) return E_POINTER;
    m_MediaStart = *start;
    m_MediaEnd = LONG(*end - *start);
    m_dwFlags |= Sample_MediaTimeValid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetProperties(DWORD size, BYTE* properties)
{
    if (!properties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = std::min<DWORD>(size, sizeof(props));
    props.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
    props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    props.lActual = m_lActual;
    props.tStart = m_Start;
    props.tStop = m_End;
    props.dwStreamId = m_dwStreamId;
    props.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType : nullptr;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    std::memcpy(properties, &props, props.cbData);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetProperties(DWORD size, const BYTE* properties)
{
    if (!properties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    std::memcpy(&props, properties, std::min<DWORD>(size, sizeof(props)));
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, tStart)) {
        if (props.lActual < 0 || props.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
        m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
        m_lActual = props.lActual;
        DWORD keep = m_dwFlags & (Sample_MediaTimeValid | Sample_TypeChanged);
        m_dwFlags = (props.dwSampleFlags & ~(Sample_MediaTimeValid | Sample_TypeChanged)) | keep;
    }
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId)) {
        m_Start = props.tStart;
        m_End = props.tStop;
    }
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, pMediaType)) m_dwStreamId = props.dwStreamId;
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer) && (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED))
        return SetMediaType(props.pMediaType);
    return S_OK;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length)
{
    if (length < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = buffer;
    m_cbBuffer = length;
    m_lActual = length;
    return S_OK;
}

CBaseAllocator::CBaseAllocator(const char* name, IUnknown* outer, HRESULT* phr) : CUnknown(name, outer, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT STDMETHODCALLTYPE CBaseAllocator::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(iid, ppv);
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (!request || !actual) return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (LONG(m_lFree.size()) < m_lAllocated) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cBuffers <= 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    LONG align = request->cbAlign <= 0 ? 1 : request->cbAlign;
    if (align & (align - 1)) return VFW_E_BADALIGN;
    m_lCount = request->cBuffers;
    m_lSize = request->cbBuffer;
    m_lAlignment = align;
    m_lPrefix = request->cbPrefix;
    m_bChanged = true;
    *actual = {m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props)
{
    if (!props) return E_POINTER;
    std::lock_guard lock(m_mutex);
    *props = {m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::Commit()
{
    std::lock_guard lock(m_mutex);
    if (m_bCommitted) return S_OK;
    // A decommit still waiting for samples is cancelled: the pool stays.
    m_bDecommitInProgress = false;
    if (m_lAllocated == 0 || m_bChanged) {
        if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
        HRESULT hr = Alloc();
        if (FAILED(hr)) return hr;
        m_bChanged = false;
    }
    m_bCommitted = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::Decommit()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bCommitted) return S_OK;
        m_bCommitted = false;
        if (LONG(m_lFree.size()) == m_lAllocated)
            Free();
        else
            m_bDecommitInProgress = true;
    }
    m_freed.notify_all();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                                     DWORD flags)
{
    if (!sample) return E_POINTER;
    *sample = nullptr;
    CMediaSample* taken;
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_lFree.empty()) break;
            if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            m_freed.wait(lock);
        }
        taken = m_lFree.back();
        m_lFree.pop_back();
    }
    // An outstanding sample keeps its allocator alive.
    AddRef();
    taken->m_cRef.store(1);
    taken->m_lActual = taken->m_cbBuffer;
    *sample = taken;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseAllocator::ReleaseBuffer(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    {
        std::lock_guard lock(m_mutex);
        m_lFree.push_back(static_cast<CMediaSample*>(sample));
        if (m_bDecommitInProgress && LONG(m_lFree.size()) == m_lAllocated) {
            Free();
            m_bDecommitInProgress = false;
        }
    }
    m_freed.notify_one();
    Release();
    return S_OK;
}

HRESULT CBaseAllocator::Alloc() { return S_OK; }

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() { ReallyFree(); }

CUnknown* CMemAllocator::CreateInstance(IUnknown* outer, HRESULT* phr) { return new CMemAllocator("", outer, phr); }

HRESULT STDMETHODCALLTYPE CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (!request || !actual) return E_POINTER;
    // The alignment must divide the page size; the prefix keeps the data aligned.
    if (request->cbAlign > 4096) return VFW_E_BADALIGN;
    // One buffer with its prefix and alignment must stay a LONG, the pool a sane size.
    int64_t stride = int64_t(request->cbBuffer) + request->cbPrefix + std::max<LONG>(request->cbAlign, 1);
    if (stride > INT32_MAX || stride * request->cBuffers > (int64_t(1) << 40)) return E_OUTOFMEMORY;
    return CBaseAllocator::SetProperties(request, actual);
}

HRESULT CMemAllocator::Alloc()
{
    // Called under m_mutex with every sample in the free list.
    ReallyFree();
    LONG stride = m_lSize + m_lPrefix;
    stride = (stride + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    size_t total = size_t(stride) * size_t(m_lCount);
    size_t alignment = size_t(std::max<LONG>(m_lAlignment, 64));
    m_pBuffer = static_cast<BYTE*>(std::aligned_alloc(alignment, (total + alignment) / alignment * alignment));
    if (!m_pBuffer) return E_OUTOFMEMORY;
    for (LONG i = 0; i < m_lCount; ++i) {
        HRESULT hr = S_OK;
        CMediaSample* sample = CreateSample(m_pBuffer + size_t(stride) * i + m_lPrefix, m_lSize, &hr);
        if (!sample || FAILED(hr)) {
            delete sample;
            ReallyFree();
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        }
        m_all.push_back(sample);
        m_lFree.push_back(sample);
    }
    m_lAllocated = m_lCount;
    return S_OK;
}

CMediaSample* CMemAllocator::CreateSample(BYTE* buffer, LONG length, HRESULT* phr)
{
    return new CMediaSample("CMemAllocator sample", this, phr, buffer, length);
}

void CMemAllocator::ReallyFree()
{
    for (CMediaSample* sample : m_all) delete sample;
    m_all.clear();
    m_lFree.clear();
    m_lAllocated = 0;
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
}
