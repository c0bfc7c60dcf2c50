// The filter graph manager (CLSID_FilterGraph) and the capture graph builder
// (CLSID_CaptureGraphBuilder2), both created with CoCreateInstance.
//
// Graph semantics worth knowing:
// - AddFilter with a name already in the graph appends " 0001", " 0002", ... and returns
//   VFW_S_DUPLICATE_NAME; a null name becomes the filter's own name or "Filter".
// - EnumFilters lists filters in the order they were added; after AddFilter/RemoveFilter an
//   enumerator answers VFW_E_ENUM_OUT_OF_SYNC until Reset.
// - Run, Pause and Stop reach the filters downstream first (renderers before sources).
// - Stream time is reference time minus the start time given to Run; the default clock is
//   the monotonic system clock.
// - EC_COMPLETE reaches the host once every renderer (a filter without output pins, or one
//   that says so through IAMFilterMiscFlags) has sent its own, unless the host cancels the
//   default handling, in which case each one is passed on.
// - Connect tries a direct connection first, then through one converter filter of the
//   registered list (RegisterConverterClass), which stays in the graph.
#pragma once

#include <string>

#include "control.h"
#include "strmif.h"

// Adds a filter class that Connect and RenderStream may insert between two pins, after the
// ones already registered. `name` is the converter's name in the graph.
void RegisterConverterClass(REFCLSID clsid, const std::u16string& name);

// The graph's topology as text: each filter with its name and pins, each connection with its
// media type. Works on any IFilterGraph.
std::string DescribeGraph(IFilterGraph* graph);
