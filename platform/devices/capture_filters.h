// The two capture filters: one for every VideoCamera, one for every Microphone.
#pragma once

#include <memory>
#include <string>

#include "../dshow/strmif.h"
#include "capture_backend.h"

HRESULT CreateVideoCaptureFilter(std::unique_ptr<VideoCamera> camera, IBaseFilter** filter);
HRESULT CreateAudioCaptureFilter(std::unique_ptr<Microphone> microphone, IBaseFilter** filter);
