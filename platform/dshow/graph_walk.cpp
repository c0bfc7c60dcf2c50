#include <cstring>

#include "../com/variant.h"
#include "filtergraph.h"
#include "graph_private.h"
#include "mtype.h"

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> pinList;
    if (!filter || FAILED(filter->EnumPins(pinList.Put())) || !pinList) return pins;
    IPin* pin = nullptr;
    while (pinList->Next(1, &pin, nullptr) == S_OK) pins.push_back(ComPtr<IPin>::Adopt(pin));
    return pins;
}

ComPtr<IBaseFilter> FilterOf(IPin* pin)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

ComPtr<IPin> PeerOf(IPin* pin)
{
    ComPtr<IPin> peer;
    if (pin) pin->ConnectedTo(peer.Put());
    return peer;
}

PIN_DIRECTION DirectionOf(IPin* pin)
{
    PIN_DIRECTION dir = PINDIR_INPUT;
    pin->QueryDirection(&dir);
    return dir;
}

namespace {

std::vector<ComPtr<IBaseFilter>> Neighbours(IBaseFilter* filter, PIN_DIRECTION side)
{
    std::vector<ComPtr<IBaseFilter>> result;
    for (const ComPtr<IPin>& pin : PinsOf(filter)) {
        if (DirectionOf(pin.Get()) != side) continue;
        if (ComPtr<IPin> peer = PeerOf(pin.Get()))
            if (ComPtr<IBaseFilter> next = FilterOf(peer.Get())) result.push_back(next);
    }
    return result;
}

}  // namespace

std::vector<ComPtr<IBaseFilter>> DownstreamOf(IBaseFilter* filter) { return Neighbours(filter, PINDIR_OUTPUT); }

std::vector<ComPtr<IBaseFilter>> UpstreamOf(IBaseFilter* filter) { return Neighbours(filter, PINDIR_INPUT); }

std::u16string FilterName(IBaseFilter* filter)
{
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return info.achName;
}

std::u16string PinName(IPin* pin)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

std::string Utf8(const std::u16string& text) { return Utf8FromUtf16(text); }

std::string DescribeGraph(IFilterGraph* graph)
{
    std::string text;
    ComPtr<IEnumFilters> filters;
    if (!graph || FAILED(graph->EnumFilters(filters.Put())) || !filters) return text;
    IBaseFilter* raw = nullptr;
    while (filters->Next(1, &raw, nullptr) == S_OK) {
        ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(raw);
        CLSID clsid = GUID_NULL;
        filter->GetClassID(&clsid);
        FILTER_STATE state = State_Stopped;
        filter->GetState(0, &state);
        static const char* const stateNames[] = {"stopped", "paused", "running"};
        text += "\"" + Utf8(FilterName(filter.Get())) + "\" " + GuidToString(clsid) + " " + stateNames[state] + "\n";
        for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
            bool output = DirectionOf(pin.Get()) == PINDIR_OUTPUT;
            text += std::string(output ? "  out \"" : "  in  \"") + Utf8(PinName(pin.Get())) + "\"";
            if (ComPtr<IPin> peer = PeerOf(pin.Get())) {
                ComPtr<IBaseFilter> other = FilterOf(peer.Get());
                text += std::string(output ? " -> \"" : " <- \"") + Utf8(FilterName(other.Get())) + "\" \"" +
                        Utf8(PinName(peer.Get())) + "\"";
                AM_MEDIA_TYPE mt{};
                if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
                    text += " [" + DescribeMediaType(mt) + "]";
                    FreeMediaType(mt);
                }
            } else {
                text += " (free)";
            }
            text += "\n";
        }
    }
    return text;
}
