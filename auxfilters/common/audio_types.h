// PCM and AAC audio media types as the audio filters offer and accept them.
#pragma once

#include "dshow/mtype.h"

// 16-bit PCM with a plain WAVEFORMATEX.
void SetPcm16Type(CMediaType* mt, DWORD sampleRate, WORD channels);

// The WAVEFORMATEX of a 16-bit PCM type with 1 or 2 channels, or nullptr.
const WAVEFORMATEX* Pcm16Format(const AM_MEDIA_TYPE& mt);
