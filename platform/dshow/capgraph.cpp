// The capture graph builder: finds pins and interfaces along a graph and connects streams
// (RenderStream), searching downstream of connected outputs for a free one.
#include <deque>
#include <set>

#include "../com/plugin.h"
#include "combase.h"
#include "filtergraph.h"
#include "graph_private.h"
#include "mtype.h"
#include "uuids.h"

namespace {

bool PinHasCategory(IPin* pin, const GUID& category)
{
    ComPtr<IKsPropertySet> properties;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, properties.PutVoid())) || !properties) return false;
    GUID actual = GUID_NULL;
    DWORD returned = 0;
    if (FAILED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &actual, sizeof(actual),
                               &returned)))
        return false;
    return actual == category;
}

bool PinCarriesType(IPin* pin, const GUID& majorType)
{
    AM_MEDIA_TYPE connected{};
    if (SUCCEEDED(pin->ConnectionMediaType(&connected))) {
        bool match = connected.majortype == majorType;
        FreeMediaType(connected);
        return match;
    }
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        bool match = mt->majortype == majorType;
        DeleteMediaType(mt);
        if (match) return true;
    }
    return false;
}

bool PinMatches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* type, bool unconnected)
{
    if (DirectionOf(pin) != dir) return false;
    if (unconnected && PeerOf(pin)) return false;
    if (category && *category != GUID_NULL && !PinHasCategory(pin, *category)) return false;
    if (type && *type != GUID_NULL && !PinCarriesType(pin, *type)) return false;
    return true;
}

std::vector<ComPtr<IPin>> MatchingPins(IBaseFilter* filter, PIN_DIRECTION dir, const GUID* category,
                                       const GUID* type, bool unconnected)
{
    std::vector<ComPtr<IPin>> result;
    for (const ComPtr<IPin>& pin : PinsOf(filter))
        if (PinMatches(pin.Get(), dir, category, type, unconnected)) result.push_back(pin);
    return result;
}

bool IsSearchDirection(const GUID* category)
{
    return category && (*category == LOOK_UPSTREAM_ONLY || *category == LOOK_DOWNSTREAM_ONLY);
}

HRESULT QueryFilterOrPins(IBaseFilter* filter, REFIID iid, void** ppv)
{
    if (SUCCEEDED(filter->QueryInterface(iid, ppv))) return S_OK;
    for (const ComPtr<IPin>& pin : PinsOf(filter))
        if (SUCCEEDED(pin->QueryInterface(iid, ppv))) return S_OK;
    return E_NOINTERFACE;
}

// Breadth-first walk from `start` (excluded) along connections in one direction.
HRESULT SearchAlong(IBaseFilter* start, bool downstream, REFIID iid, void** ppv)
{
    std::set<IBaseFilter*> seen{start};
    std::deque<ComPtr<IBaseFilter>> queue;
    auto enqueue = [&](IBaseFilter* from) {
        for (ComPtr<IBaseFilter>& next : downstream ? DownstreamOf(from) : UpstreamOf(from))
            if (seen.insert(next.Get()).second) queue.push_back(next);
    };
    enqueue(start);
    while (!queue.empty()) {
        ComPtr<IBaseFilter> filter = queue.front();
        queue.pop_front();
        if (SUCCEEDED(QueryFilterOrPins(filter.Get(), iid, ppv))) return S_OK;
        enqueue(filter.Get());
    }
    return E_NOINTERFACE;
}

class CCaptureGraphBuilder2 : public CUnknown, public ICaptureGraphBuilder2 {
public:
    explicit CCaptureGraphBuilder2(IUnknown* outer) : CUnknown("Capture graph builder", outer) {}
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT*) { return new CCaptureGraphBuilder2(outer); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_ICaptureGraphBuilder2) return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(iid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override
    {
        if (!graph) return E_POINTER;
        if (graph_) return E_UNEXPECTED;
        graph_ = graph;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** graph) override
    {
        if (!graph) return E_POINTER;
        if (!graph_) {
            HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                          graph_.PutVoid());
            if (FAILED(hr)) return hr;
        }
        *graph = graph_.Get();
        graph_->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                            void** ppv) override
    {
        if (!filter || !ppv) return E_POINTER;
        *ppv = nullptr;
        bool upOnly = category && *category == LOOK_UPSTREAM_ONLY;
        bool downOnly = category && *category == LOOK_DOWNSTREAM_ONLY;
        if (!IsSearchDirection(category)) {
            bool anyPin = (!category || *category == GUID_NULL) && (!type || *type == GUID_NULL);
            if (anyPin && SUCCEEDED(filter->QueryInterface(iid, ppv))) return S_OK;
            // A pin category or type narrows the search to matching pins of the filter.
            for (PIN_DIRECTION dir : {PINDIR_OUTPUT, PINDIR_INPUT})
                for (const ComPtr<IPin>& pin : MatchingPins(filter, dir, category, type, false))
                    if (SUCCEEDED(pin->QueryInterface(iid, ppv))) return S_OK;
            if (!anyPin) return E_NOINTERFACE;
        } else if (SUCCEEDED(QueryFilterOrPins(filter, iid, ppv))) {
            return S_OK;
        }
        if (!upOnly && SUCCEEDED(SearchAlong(filter, true, iid, ppv))) return S_OK;
        if (!downOnly && SUCCEEDED(SearchAlong(filter, false, iid, ppv))) return S_OK;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                           IBaseFilter* intermediate, IBaseFilter* sink) override
    {
        if (!source) return E_POINTER;
        ComPtr<IGraphBuilder> graph;
        HRESULT hr = GetFiltergraph(graph.Put());
        if (FAILED(hr)) return hr;
        if (!sink && !intermediate) return E_NOTIMPL;  // rendering with default renderers

        std::vector<ComPtr<IPin>> outputs = SourceOutputs(category, type, source);
        if (outputs.empty()) return VFW_E_CANNOT_CONNECT;
        HRESULT failure = VFW_E_CANNOT_CONNECT;
        for (const ComPtr<IPin>& out : outputs) {
            ComPtr<IPin> from = out;
            if (intermediate) {
                hr = ConnectToInputs(graph.Get(), from.Get(), intermediate);
                if (FAILED(hr)) {
                    failure = hr;
                    continue;
                }
                std::vector<ComPtr<IPin>> next = MatchingPins(intermediate, PINDIR_OUTPUT, nullptr, nullptr, true);
                if (next.empty()) return sink ? VFW_E_CANNOT_CONNECT : S_OK;
                from = next.front();
            }
            if (!sink) return S_OK;
            hr = ConnectToInputs(graph.Get(), from.Get(), sink);
            if (SUCCEEDED(hr)) return S_OK;
            failure = hr;
            if (intermediate) return failure;
        }
        return failure;
    }

    HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                                            REFERENCE_TIME*, WORD, WORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                                      BOOL unconnected, int index, IPin** pin) override
    {
        if (!source || !pin) return E_POINTER;
        *pin = nullptr;
        ComPtr<IBaseFilter> filter;
        ComPtr<IPin> asPin;
        if (SUCCEEDED(source->QueryInterface(IID_IPin, asPin.PutVoid())) && asPin) {
            if (!PinMatches(asPin.Get(), dir, category, type, unconnected) || index != 0) return E_FAIL;
            *pin = asPin.Detach();
            return S_OK;
        }
        if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.PutVoid())) || !filter) return E_NOINTERFACE;
        std::vector<ComPtr<IPin>> pins = MatchingPins(filter.Get(), dir, category, type, unconnected);
        if (index < 0 || size_t(index) >= pins.size()) return E_FAIL;
        *pin = pins[size_t(index)].Get();
        (*pin)->AddRef();
        return S_OK;
    }

private:
    // The free outputs of the source; when every matching output is already connected, the
    // free outputs of the nearest filters downstream of it (a tee grows one per connection).
    std::vector<ComPtr<IPin>> SourceOutputs(const GUID* category, const GUID* type, IUnknown* source)
    {
        ComPtr<IPin> pin;
        ComPtr<IBaseFilter> filter;
        if (SUCCEEDED(source->QueryInterface(IID_IPin, pin.PutVoid())) && pin) {
            if (!PeerOf(pin.Get())) return {pin};
            filter = FilterOf(PeerOf(pin.Get()).Get());
        } else if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.PutVoid())) || !filter) {
            return {};
        } else {
            std::vector<ComPtr<IPin>> free = MatchingPins(filter.Get(), PINDIR_OUTPUT, category, type, true);
            if (!free.empty()) return free;
        }
        std::set<IBaseFilter*> seen{filter.Get()};
        std::deque<ComPtr<IBaseFilter>> queue;
        auto enqueue = [&](IBaseFilter* from) {
            for (ComPtr<IBaseFilter>& next : DownstreamOf(from))
                if (seen.insert(next.Get()).second) queue.push_back(next);
        };
        if (pin) {
            queue.push_back(filter);
        } else {
            enqueue(filter.Get());
        }
        while (!queue.empty()) {
            ComPtr<IBaseFilter> next = queue.front();
            queue.pop_front();
            std::vector<ComPtr<IPin>> free = MatchingPins(next.Get(), PINDIR_OUTPUT, nullptr, type, true);
            if (!free.empty()) return free;
            enqueue(next.Get());
        }
        return {};
    }

    static HRESULT ConnectToInputs(IGraphBuilder* graph, IPin* out, IBaseFilter* target)
    {
        HRESULT failure = VFW_E_CANNOT_CONNECT;
        for (const ComPtr<IPin>& in : MatchingPins(target, PINDIR_INPUT, nullptr, nullptr, true)) {
            HRESULT hr = graph->Connect(out, in.Get());
            if (SUCCEEDED(hr)) return hr;
            failure = hr;
        }
        return failure;
    }

    ComPtr<IGraphBuilder> graph_;
};

const bool kRegistered =
    (RegisterBuiltinClass(CLSID_CaptureGraphBuilder2, CreateBuiltin<CCaptureGraphBuilder2::CreateInstance>), true);

}  // namespace
