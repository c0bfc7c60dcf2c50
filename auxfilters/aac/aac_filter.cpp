// AAC encoder filter: 16-bit PCM in, raw AAC frames out with the AudioSpecificConfig in the
// WAVEFORMATEX extra bytes. The bit rate is read from the registry when the filter is created.
#include <cstring>

#include "aac_encoder.h"
#include "common/audio_types.h"
#include "common/encoder_filter.h"
#include "common/library_entry.h"

namespace {

class CAacEncoder : public CEncoderFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) { return new CAacEncoder(outer); }

private:
    explicit CAacEncoder(IUnknown* outer)
        : CEncoderFilter("AAC Encoder", outer, CLSID_MonogramAAC, MEDIATYPE_Audio, MEDIASUBTYPE_RAW_AAC1),
          bitrate_(ReadAacBitrate())
    {
    }

    bool AcceptsInput(const CMediaType& mt) override { return Pcm16Format(mt) != nullptr; }

    bool OpenEncoder(const CMediaType& mt) override
    {
        const WAVEFORMATEX* wfx = Pcm16Format(mt);
        if (!wfx) return false;
        encoder_ = AacEncoder::Create(static_cast<int>(wfx->nSamplesPerSec), wfx->nChannels, bitrate_, nullptr);
        return encoder_ != nullptr;
    }

    void CloseEncoder() override { encoder_.reset(); }
    // The publishing sink stamps an audio tag with the sample's stop time and orders its inputs
    // by start time: an AAC frame known only by the time its sound begins meets both in step
    // with the video, where a stop time would put each tag a frame late and out of order.
    bool StampsStopTime() const override { return false; }
    bool EncoderOpen() const override { return encoder_ != nullptr; }

    void FillOutputType(CMediaType* mt) override
    {
        const auto& config = encoder_->AudioSpecificConfig();
        mt->SetFormatType(&FORMAT_WaveFormatEx);
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
    }

    size_t FramesIn(size_t bytes) const { return bytes / (2 * static_cast<size_t>(encoder_->Channels())); }

    REFERENCE_TIME InputDuration(size_t bytes) const override
    {
        return static_cast<REFERENCE_TIME>(FramesIn(bytes)) * 10000000 / encoder_->SampleRate();
    }

    bool Encode(const BYTE* data, size_t size, REFERENCE_TIME start, bool, std::vector<EncodedFrame>* out) override
    {
        return encoder_->Encode(reinterpret_cast<const int16_t*>(data), FramesIn(size), start, out);
    }

    void Flush(std::vector<EncodedFrame>* out) override { encoder_->Flush(out); }

    const int32_t bitrate_;
    std::unique_ptr<AacEncoder> encoder_;
};

const CFactoryTemplate g_Templates[] = {{u"AAC Encoder", &CLSID_MonogramAAC, CAacEncoder::CreateInstance}};

}  // namespace

VELTRO_FILTER_LIBRARY(g_Templates)
