// The two capture filters: one for every VideoCamera, one for every Microphone. `name` is
// the device's friendly name, which the filter also reports as its own.
#pragma once

#include <memory>
#include <string>

#include "../dshow/strmif.h"
#include "capture_backend.h"

HRESULT CreateVideoCaptureFilter(std::unique_ptr<VideoCamera> camera, const std::string& name, IBaseFilter** filter);
HRESULT CreateAudioCaptureFilter(std::unique_ptr<Microphone> microphone, const std::string& name,
                                 IBaseFilter** filter);
