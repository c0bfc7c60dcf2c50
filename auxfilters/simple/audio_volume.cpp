// Audio volume control: passes 16-bit PCM unchanged, or silence of the same length when
// muted. Output goes to a buffer of its own because upstream buffers may be shared by a tee.
#include <atomic>
#include <cstring>

#include "common/audio_types.h"
#include "common/buffers.h"
#include "common/library_entry.h"
#include "dshow/transfrm.h"

namespace {

class CAudioVolume : public CTransformFilter, public IIAudioVolume {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CAudioVolume(outer); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IIAudioVolume) return GetInterface(static_cast<IIAudioVolume*>(this), ppv);
        return CTransformFilter::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetMute(BOOL mute) override
    {
        mute_ = mute != FALSE;
        return S_OK;
    }

    HRESULT CheckInputType(const CMediaType* mt) override
    {
        return Pcm16Format(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = m_pInput->CurrentMediaType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        ALLOCATOR_PROPERTIES upstream{};
        IMemAllocator* in = nullptr;
        if (SUCCEEDED(m_pInput->GetAllocator(&in)) && in) {
            in->GetProperties(&upstream);
            in->Release();
        }
        const WAVEFORMATEX* wfx = Pcm16Format(m_pInput->CurrentMediaType());
        // Upstream's buffer size, else a second of audio per buffer.
        return RequestBuffers(allocator, request, std::max<LONG>(upstream.cBuffers, 4),
                              upstream.cbBuffer > 0 ? upstream.cbBuffer
                                                    : static_cast<LONG>(wfx ? wfx->nAvgBytesPerSec : 4096));
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override
    {
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        const LONG length = in->GetActualDataLength();
        if (length > out->GetSize()) return E_UNEXPECTED;
        if (mute_) std::memset(dst, 0, static_cast<size_t>(length));  // 16-bit PCM silence is zero
        else std::memcpy(dst, src, static_cast<size_t>(length));
        out->SetActualDataLength(length);
        return S_OK;
    }

private:
    explicit CAudioVolume(IUnknown* outer) : CTransformFilter("Audio Volume Control", outer, CLSID_KeshAudioVolume) {}
    std::atomic<bool> mute_{false};
};

const CFactoryTemplate g_Templates[] = {
    {u"Audio Volume Control", &CLSID_KeshAudioVolume, CAudioVolume::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
