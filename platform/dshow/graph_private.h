// Shared by the graph manager and the capture graph builder: pin and filter walking helpers.
#pragma once

#include <string>
#include <vector>

#include "../com/unknown.h"
#include "strmif.h"

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter);
ComPtr<IBaseFilter> FilterOf(IPin* pin);
ComPtr<IPin> PeerOf(IPin* pin);
PIN_DIRECTION DirectionOf(IPin* pin);
// Filters whose inputs this filter's outputs feed.
std::vector<ComPtr<IBaseFilter>> DownstreamOf(IBaseFilter* filter);
std::vector<ComPtr<IBaseFilter>> UpstreamOf(IBaseFilter* filter);
std::u16string FilterName(IBaseFilter* filter);
std::u16string PinName(IPin* pin);
std::string Utf8(const std::u16string& text);
