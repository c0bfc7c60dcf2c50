// AAC encoder filter: 16-bit PCM in, raw AAC frames out with the AudioSpecificConfig in the
// WAVEFORMATEX extra bytes. The bit rate is read from the registry when the filter is created.
#include <cstring>

#include "aac_encoder.h"
#include "common/audio_types.h"
#include "common/buffers.h"
#include "common/library_entry.h"
#include "common/owned_sample.h"
#include "dshow/transfrm.h"

namespace {

class CAacEncoder : public CTransformFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CAacEncoder(outer); }

    HRESULT CheckInputType(const CMediaType* mt) override
    {
        return Pcm16Format(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override
    {
        if (dir != PINDIR_INPUT) return S_OK;
        const WAVEFORMATEX* wfx = Pcm16Format(*mt);
        if (!wfx) return VFW_E_TYPE_NOT_ACCEPTED;
        auto encoder = AacEncoder::Create(static_cast<int>(wfx->nSamplesPerSec), wfx->nChannels, bitrate_, nullptr);
        if (!encoder) return VFW_E_TYPE_NOT_ACCEPTED;
        CAutoLock hold(&m_csReceive);
        encoder_ = std::move(encoder);
        return S_OK;
    }

    HRESULT BreakConnect(PIN_DIRECTION dir) override
    {
        if (dir == PINDIR_INPUT) {
            CAutoLock hold(&m_csReceive);
            encoder_.reset();
        }
        return S_OK;
    }

    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (!m_pInput->IsConnected() || !encoder_) return VFW_E_NOT_CONNECTED;
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        const auto& config = encoder_->AudioSpecificConfig();
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Audio);
        mt->SetSubtype(&MEDIASUBTYPE_RAW_AAC1);
        mt->SetFormatType(&FORMAT_WaveFormatEx);
        mt->SetVariableSize();
        BYTE* block = mt->AllocFormatBuffer(static_cast<ULONG>(sizeof(WAVEFORMATEX) + config.size()));
        auto* wfx = reinterpret_cast<WAVEFORMATEX*>(block);
        wfx->wFormatTag = WAVE_FORMAT_RAW_AAC1;
        wfx->nChannels = static_cast<WORD>(encoder_->Channels());
        wfx->nSamplesPerSec = static_cast<DWORD>(encoder_->SampleRate());
        wfx->nAvgBytesPerSec = static_cast<DWORD>(bitrate_ / 8);
        wfx->nBlockAlign = 1;
        wfx->wBitsPerSample = 16;
        wfx->cbSize = static_cast<WORD>(config.size());
        std::memcpy(block + sizeof(WAVEFORMATEX), config.data(), config.size());
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        return out->majortype == MEDIATYPE_Audio && out->subtype == MEDIASUBTYPE_RAW_AAC1 ? S_OK
                                                                                          : VFW_E_TYPE_NOT_ACCEPTED;
    }

    // Output samples are the encoder's own; the pin's allocator only serves the connection.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return RequestBuffers(allocator, request, 1, 1);
    }

    HRESULT Receive(IMediaSample* sample) override
    {
        if (!encoder_) return VFW_E_NOT_CONNECTED;
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(sample->GetTime(&start, &stop))) start = nextTime_;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t frames = static_cast<size_t>(sample->GetActualDataLength()) / (2 * encoder_->Channels());
        nextTime_ = start + static_cast<REFERENCE_TIME>(frames) * 10000000 / encoder_->SampleRate();
        std::vector<EncodedAudioFrame> out;
        if (!encoder_->Encode(reinterpret_cast<const int16_t*>(data), frames, start, &out)) return E_FAIL;
        return DeliverFrames(out);
    }

    HRESULT EndOfStream() override
    {
        if (encoder_) {
            std::vector<EncodedAudioFrame> out;
            encoder_->Flush(&out);
            DeliverFrames(out);
        }
        return CTransformFilter::EndOfStream();
    }

private:
    explicit CAacEncoder(IUnknown* outer)
        : CTransformFilter("AAC Encoder", outer, CLSID_MonogramAAC), bitrate_(ReadAacBitrate())
    {
    }

    HRESULT DeliverFrames(const std::vector<EncodedAudioFrame>& frames)
    {
        HRESULT result = S_OK;
        for (const auto& frame : frames) {
            COwnedSample* out = COwnedSample::Create(frame.data);
            REFERENCE_TIME start = frame.startTime, stop = frame.stopTime;
            out->SetTime(&start, &stop);
            out->SetEncoderTimes(start, start);
            out->SetSyncPoint(TRUE);
            const HRESULT hr = m_pOutput->Deliver(out);
            out->Release();
            if (hr != S_OK) result = hr;
        }
        return result;
    }

    const int32_t bitrate_;
    std::unique_ptr<AacEncoder> encoder_;
    REFERENCE_TIME nextTime_ = 0;
};

const CFactoryTemplate g_Templates[] = {{u"AAC Encoder", &CLSID_MonogramAAC, CAacEncoder::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
