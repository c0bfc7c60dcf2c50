#include "audio_types.h"

void SetPcm16Type(CMediaType* mt, DWORD sampleRate, WORD channels)
{
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = channels;
    wfx->nSamplesPerSec = sampleRate;
    wfx->wBitsPerSample = 16;
    wfx->nBlockAlign = static_cast<WORD>(2 * channels);
    wfx->nAvgBytesPerSec = sampleRate * wfx->nBlockAlign;
    wfx->cbSize = 0;
    mt->SetSampleSize(wfx->nBlockAlign);
}

const WAVEFORMATEX* Pcm16Format(const AM_MEDIA_TYPE& mt)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM) return nullptr;
    const WAVEFORMATEX* wfx = GetWaveFormatEx(mt);
    if (!wfx || wfx->wBitsPerSample != 16 || wfx->nChannels < 1 || wfx->nChannels > 2 || wfx->nSamplesPerSec == 0)
        return nullptr;
    return wfx;
}
