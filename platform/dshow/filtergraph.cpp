#include "filtergraph.h"

#include <algorithm>
#include <deque>
#include <set>

#include "../com/plugin.h"
#include "../winmsg/winmsg.h"
#include "combase.h"
#include "graph_private.h"
#include "mtype.h"
#include "refclock.h"
#include "uuids.h"
#include "wxutil.h"

namespace {

struct Converter {
    CLSID clsid;
    std::u16string name;
};

std::mutex g_convertersMutex;
std::vector<Converter>& Converters()
{
    static std::vector<Converter> list;
    return list;
}

std::vector<Converter> ConverterSnapshot()
{
    std::lock_guard lock(g_convertersMutex);
    return Converters();
}

HRESULT NotImplementedDispatch() { return E_NOTIMPL; }

class CFilterGraph;

// A snapshot of the graph's filters that notices later changes, as the Windows one does.
class CEnumFilters : public IEnumFilters, public RefCounted {
public:
    CEnumFilters(CFilterGraph* graph, std::vector<ComPtr<IBaseFilter>> filters, LONG version, size_t position = 0);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IEnumFilters) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** clone) override;

private:
    ~CEnumFilters() override;
    CFilterGraph* graph_;  // referenced
    std::vector<ComPtr<IBaseFilter>> filters_;
    LONG version_;
    size_t position_;
};

class CFilterGraph : public CUnknown,
                     public IFilterGraph2,
                     public IMediaControl,
                     public IMediaSeeking,
                     public IMediaEventEx,
                     public IMediaEventSink {
public:
    explicit CFilterGraph(IUnknown* outer) : CUnknown("Filter graph", outer), events_(TRUE) {}
    ~CFilterGraph() override
    {
        Stop();
        std::vector<Entry> entries;
        {
            CAutoLock lock(&graphLock_);
            entries.swap(filters_);
        }
        // Connected pins hold references to each other's filters: break every connection,
        // or the filters would keep each other alive after the graph is gone.
        for (Entry& entry : entries) DisconnectAll(entry.filter.Get());
        for (Entry& entry : entries) {
            entry.filter->SetSyncSource(nullptr);
            entry.filter->JoinFilterGraph(nullptr, nullptr);
        }
    }

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT*) { return new CFilterGraph(outer); }

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IFilterGraph || iid == IID_IGraphBuilder || iid == IID_IFilterGraph2)
            return GetInterface(static_cast<IFilterGraph2*>(this), ppv);
        if (iid == IID_IMediaControl || iid == IID_IDispatch)
            return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
        if (iid == IID_IMediaEvent || iid == IID_IMediaEventEx)
            return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
        if (iid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(iid, ppv);
    }

    LONG Version()
    {
        CAutoLock lock(&graphLock_);
        return version_;
    }

    // ---- IFilterGraph

    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override
    {
        if (!filter) return E_POINTER;
        CAutoLock lock(&graphLock_);
        if (Find(filter) != filters_.end()) return E_INVALIDARG;
        std::u16string wanted = name ? std::u16string(name) : FilterName(filter);
        if (wanted.empty()) wanted = u"Filter";
        wanted = wanted.substr(0, MAX_FILTER_NAME - 6);
        std::u16string unique = wanted;
        HRESULT result = S_OK;
        for (int n = 1; FindByName(unique) != filters_.end(); ++n) {
            char digits[16];
            std::snprintf(digits, sizeof digits, " %04d", n);
            unique = wanted + std::u16string(digits, digits + std::strlen(digits));
            result = VFW_S_DUPLICATE_NAME;
        }
        HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph2*>(this), unique.c_str());
        if (FAILED(hr)) return hr;
        filters_.push_back({filter, unique});
        ++version_;
        if (clock_) filter->SetSyncSource(clock_.Get());
        return result;
    }

    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override
    {
        if (!filter) return E_POINTER;
        CAutoLock lock(&graphLock_);
        auto it = Find(filter);
        if (it == filters_.end()) return VFW_E_NOT_FOUND;
        ComPtr<IBaseFilter> keep = it->filter;
        if (state_ != State_Stopped) keep->Stop();
        DisconnectAll(keep.Get());
        filters_.erase(it);
        ++version_;
        keep->SetSyncSource(nullptr);
        keep->JoinFilterGraph(nullptr, nullptr);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** list) override
    {
        if (!list) return E_POINTER;
        CAutoLock lock(&graphLock_);
        *list = new CEnumFilters(this, Snapshot(), version_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) override
    {
        if (!name || !filter) return E_POINTER;
        CAutoLock lock(&graphLock_);
        auto it = FindByName(name);
        if (it == filters_.end()) {
            *filter = nullptr;
            return VFW_E_NOT_FOUND;
        }
        *filter = it->filter.Get();
        (*filter)->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override
    {
        if (!out || !in) return E_POINTER;
        CAutoLock lock(&graphLock_);
        HRESULT hr = CheckPair(out, in);
        if (FAILED(hr)) return hr;
        return out->Connect(in, mt);
    }

    HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }

    HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override
    {
        if (!pin) return E_POINTER;
        CAutoLock lock(&graphLock_);
        return pin->Disconnect();
    }

    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override
    {
        CAutoLock lock(&graphLock_);
        ComPtr<IReferenceClock> clock;
        HRESULT hr = CreateComObject(CSystemClock::CreateInstance, nullptr, IID_IReferenceClock, clock.PutVoid());
        if (FAILED(hr)) return hr;
        return UseClock(clock);
    }

    // ---- IGraphBuilder

    HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override
    {
        if (!out || !in) return E_POINTER;
        CAutoLock lock(&graphLock_);
        HRESULT hr = CheckPair(out, in);
        if (FAILED(hr)) return hr;
        hr = out->Connect(in, nullptr);
        if (SUCCEEDED(hr)) return hr;
        for (const Converter& converter : ConverterSnapshot()) {
            if (SUCCEEDED(ConnectThrough(converter, out, in))) return S_OK;
        }
        return hr == VFW_E_NO_ACCEPTABLE_TYPES || hr == VFW_E_TYPE_NOT_ACCEPTED ? VFW_E_CANNOT_CONNECT : hr;
    }

    HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return S_OK; }

    // ---- IFilterGraph2

    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR name,
                                                        IBaseFilter** filter) override
    {
        if (!moniker || !filter) return E_POINTER;
        HRESULT hr = moniker->BindToObject(ctx, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
        if (FAILED(hr)) return hr;
        hr = AddFilter(*filter, name);
        if (FAILED(hr)) {
            (*filter)->Release();
            *filter = nullptr;
        }
        return hr;
    }

    // Disconnects both ends and connects them again directly, with mt when given.
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override
    {
        if (!pin) return E_POINTER;
        CAutoLock lock(&graphLock_);
        ComPtr<IPin> peer = PeerOf(pin);
        if (!peer) return VFW_E_NOT_CONNECTED;
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        ComPtr<IPin> out = DirectionOf(pin) == PINDIR_OUTPUT ? ComPtr<IPin>(pin) : peer;
        ComPtr<IPin> in = out == pin ? peer : ComPtr<IPin>(pin);
        CMediaType previous;
        out->ConnectionMediaType(&previous);
        out->Disconnect();
        in->Disconnect();
        HRESULT hr = out->Connect(in.Get(), mt);
        // A type the pins refuse must not cost the connection they had.
        if (FAILED(hr)) out->Connect(in.Get(), &previous);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE RenderEx(IPin*, DWORD, DWORD*) override { return E_NOTIMPL; }

    // ---- IDispatch (for IMediaControl and IMediaEventEx)

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return NotImplementedDispatch(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return NotImplementedDispatch(); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return NotImplementedDispatch();
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return NotImplementedDispatch();
    }

    // ---- IMediaControl

    HRESULT STDMETHODCALLTYPE Run() override
    {
        CAutoLock lock(&graphLock_);
        if (state_ == State_Running) return S_OK;
        if (!clock_) {
            HRESULT hr = SetDefaultSyncSource();
            if (FAILED(hr)) return hr;
        }
        bool fresh = state_ == State_Stopped;
        if (fresh) {
            HRESULT hr = ChangeState(State_Paused, 0);
            if (FAILED(hr)) return hr;
            pausedPosition_ = 0;
        }
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        startTime_ = now - pausedPosition_;
        std::set<IBaseFilter*> renderers = FindRenderers();
        {
            std::lock_guard events(eventMutex_);
            // Resuming from pause keeps what the renderers reported before: a renderer that
            // has finished does not report again.
            if (fresh) {
                completed_.clear();
                completionQueued_ = false;
                finalCode_ = 0;
            }
            renderers_ = std::move(renderers);
        }
        return ChangeState(State_Running, startTime_);
    }

    HRESULT STDMETHODCALLTYPE Pause() override
    {
        CAutoLock lock(&graphLock_);
        if (state_ == State_Paused) return S_OK;
        if (!clock_) {
            HRESULT hr = SetDefaultSyncSource();
            if (FAILED(hr)) return hr;
        }
        if (state_ == State_Running) pausedPosition_ = CurrentPosition();
        else pausedPosition_ = 0;
        return ChangeState(State_Paused, 0);
    }

    HRESULT STDMETHODCALLTYPE Stop() override
    {
        CAutoLock lock(&graphLock_);
        if (state_ == State_Stopped) return S_OK;
        HRESULT hr = ChangeState(State_Stopped, 0);
        pausedPosition_ = 0;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) override
    {
        if (!state) return E_POINTER;
        CAutoLock lock(&graphLock_);
        *state = state_;
        HRESULT result = S_OK;
        for (const Entry& entry : filters_) {
            FILTER_STATE filterState;
            HRESULT hr = entry.filter->GetState(DWORD(msTimeout), &filterState);
            if (hr == VFW_S_STATE_INTERMEDIATE) result = hr;
            else if (hr == VFW_S_CANT_CUE && result == S_OK) result = hr;
        }
        return result;
    }

    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override { return Stop(); }

    // ---- IMediaSeeking: a live graph only has a current position.

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override
    {
        if (!capabilities) return E_POINTER;
        *capabilities = AM_SEEKING_CanGetCurrentPos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override
    {
        if (!capabilities) return E_POINTER;
        DWORD wanted = *capabilities;
        *capabilities &= AM_SEEKING_CanGetCurrentPos;
        if (*capabilities == wanted) return S_OK;
        return *capabilities ? S_FALSE : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override
    {
        if (!format) return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override { return GetTimeFormat(format); }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override
    {
        if (!format) return E_POINTER;
        *format = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override
    {
        if (!format) return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override
    {
        if (!current) return E_POINTER;
        CAutoLock lock(&graphLock_);
        *current = state_ == State_Running ? CurrentPosition() : pausedPosition_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override
    {
        if (!target) return E_POINTER;
        auto isMediaTime = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
        if (!isMediaTime(targetFormat) || !isMediaTime(sourceFormat)) return E_INVALIDARG;
        *target = source;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override
    {
        if (stop) return E_NOTIMPL;
        return GetCurrentPosition(current);
    }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override
    {
        if (earliest) *earliest = 0;
        return latest ? GetCurrentPosition(latest) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override { return rate == 1.0 ? S_OK : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override
    {
        if (!rate) return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override
    {
        if (!preroll) return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

    // ---- IMediaEventSink: any thread.

    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        std::lock_guard lock(eventMutex_);
        if (code == EC_COMPLETE && !passCompletion_) {
            // One EC_COMPLETE for the host once every renderer has finished.
            auto* filter = reinterpret_cast<IBaseFilter*>(param2);
            if (renderers_.count(filter)) completed_.insert(filter);
            if (completionQueued_ || completed_.size() < renderers_.size()) return S_OK;
            completionQueued_ = true;
            Queue({EC_COMPLETE, S_OK, 0});
            return S_OK;
        }
        Queue({code, param1, param2});
        return S_OK;
    }

    // ---- IMediaEvent(Ex)

    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* event) override
    {
        if (!event) return E_POINTER;
        *event = reinterpret_cast<OAEVENT>(static_cast<HANDLE>(events_));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) override
    {
        if (!code || !param1 || !param2) return E_POINTER;
        std::unique_lock lock(eventMutex_);
        auto ready = [this] { return !queue_.empty(); };
        if (msTimeout < 0)
            queued_.wait(lock, ready);
        else if (!queued_.wait_for(lock, std::chrono::milliseconds(msTimeout), ready))
            return E_ABORT;
        Event event = queue_.front();
        queue_.pop_front();
        if (queue_.empty()) events_.Reset();
        *code = event.code;
        *param1 = event.param1;
        *param2 = event.param2;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* code) override
    {
        if (!code) return E_POINTER;
        *code = 0;
        std::unique_lock lock(eventMutex_);
        auto done = [this] { return finalCode_ != 0; };
        if (msTimeout < 0)
            queued_.wait(lock, done);
        else if (!queued_.wait_for(lock, std::chrono::milliseconds(msTimeout), done))
            return E_ABORT;
        *code = finalCode_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG code) override
    {
        std::lock_guard lock(eventMutex_);
        if (code == EC_COMPLETE) passCompletion_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG code) override
    {
        std::lock_guard lock(eventMutex_);
        if (code == EC_COMPLETE) passCompletion_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) override
    {
        std::lock_guard lock(eventMutex_);
        notifyWindow_ = HWND(window);
        notifyMessage_ = UINT(message);
        notifyData_ = instanceData;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override
    {
        std::lock_guard lock(eventMutex_);
        notifyFlags_ = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* flags) override
    {
        if (!flags) return E_POINTER;
        std::lock_guard lock(eventMutex_);
        *flags = notifyFlags_;
        return S_OK;
    }

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::u16string name;
    };
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    std::vector<Entry>::iterator Find(IBaseFilter* filter)
    {
        return std::find_if(filters_.begin(), filters_.end(),
                            [filter](const Entry& e) { return e.filter.Get() == filter; });
    }
    std::vector<Entry>::iterator FindByName(std::u16string_view name)
    {
        return std::find_if(filters_.begin(), filters_.end(), [name](const Entry& e) { return e.name == name; });
    }
    std::vector<ComPtr<IBaseFilter>> Snapshot()
    {
        std::vector<ComPtr<IBaseFilter>> list;
        for (const Entry& entry : filters_) list.push_back(entry.filter);
        return list;
    }
    bool Contains(IBaseFilter* filter) { return Find(filter) != filters_.end(); }

    static void DisconnectAll(IBaseFilter* filter)
    {
        for (const ComPtr<IPin>& pin : PinsOf(filter)) {
            if (ComPtr<IPin> peer = PeerOf(pin.Get())) {
                peer->Disconnect();
                pin->Disconnect();
            }
        }
    }

    HRESULT CheckPair(IPin* out, IPin* in)
    {
        if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
        if (!Contains(FilterOf(out).Get()) || !Contains(FilterOf(in).Get())) return VFW_E_NOT_IN_GRAPH;
        return S_OK;
    }

    // out -> converter -> in; the converter is removed again when either side fails.
    HRESULT ConnectThrough(const Converter& converter, IPin* out, IPin* in)
    {
        ComPtr<IBaseFilter> filter;
        HRESULT hr = CoCreateInstance(converter.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      filter.PutVoid());
        if (FAILED(hr)) return hr;
        hr = AddFilter(filter.Get(), converter.name.c_str());
        if (FAILED(hr)) return hr;
        hr = E_FAIL;
        for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
            if (DirectionOf(pin.Get()) != PINDIR_INPUT) continue;
            hr = out->Connect(pin.Get(), nullptr);
            if (SUCCEEDED(hr)) break;
        }
        if (SUCCEEDED(hr)) {
            hr = E_FAIL;
            for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
                if (DirectionOf(pin.Get()) != PINDIR_OUTPUT || PeerOf(pin.Get())) continue;
                hr = pin->Connect(in, nullptr);
                if (SUCCEEDED(hr)) return S_OK;
            }
        }
        RemoveFilter(filter.Get());
        return FAILED(hr) ? hr : E_FAIL;
    }

    HRESULT UseClock(const ComPtr<IReferenceClock>& clock)
    {
        clock_ = clock;
        for (const Entry& entry : filters_) entry.filter->SetSyncSource(clock_.Get());
        return S_OK;
    }

    REFERENCE_TIME CurrentPosition()
    {
        REFERENCE_TIME now = 0;
        if (clock_) clock_->GetTime(&now);
        return std::max<REFERENCE_TIME>(0, now - startTime_);
    }

    // Filters ordered so that every filter comes before the filters that feed it.
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst()
    {
        std::vector<ComPtr<IBaseFilter>> order;
        std::set<IBaseFilter*> placed;
        std::vector<ComPtr<IBaseFilter>> pending = Snapshot();
        while (!pending.empty()) {
            size_t before = pending.size();
            for (auto it = pending.begin(); it != pending.end();) {
                bool ready = true;
                for (const ComPtr<IBaseFilter>& next : DownstreamOf(it->Get()))
                    if (Contains(next.Get()) && !placed.count(next.Get()) && next.Get() != it->Get()) ready = false;
                if (ready) {
                    placed.insert(it->Get());
                    order.push_back(*it);
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
            if (pending.size() == before) {
                // A cycle: take the rest in the order they were added.
                for (auto& filter : pending) order.push_back(filter);
                break;
            }
        }
        return order;
    }

    std::set<IBaseFilter*> FindRenderers()
    {
        std::set<IBaseFilter*> renderers;
        for (const Entry& entry : filters_) {
            IBaseFilter* filter = entry.filter.Get();
            ComPtr<IAMFilterMiscFlags> flags;
            if (SUCCEEDED(filter->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid())) && flags) {
                if (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) renderers.insert(filter);
                continue;
            }
            bool hasOutput = false, hasConnectedInput = false;
            for (const ComPtr<IPin>& pin : PinsOf(filter)) {
                if (DirectionOf(pin.Get()) == PINDIR_OUTPUT) hasOutput = true;
                else if (PeerOf(pin.Get())) hasConnectedInput = true;
            }
            if (!hasOutput && hasConnectedInput) renderers.insert(filter);
        }
        return renderers;
    }

    HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME start)
    {
        HRESULT result = S_OK;
        for (const ComPtr<IBaseFilter>& filter : DownstreamFirst()) {
            HRESULT hr = target == State_Stopped  ? filter->Stop()
                         : target == State_Paused ? filter->Pause()
                                                  : filter->Run(start);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        if (FAILED(result) && target != State_Stopped) {
            // A filter that cannot start leaves the graph stopped, not half running.
            for (const ComPtr<IBaseFilter>& filter : DownstreamFirst()) filter->Stop();
            state_ = State_Stopped;
            return result;
        }
        state_ = target;
        return result;
    }

    void Queue(const Event& event)
    {
        if (event.code == EC_COMPLETE || event.code == EC_ERRORABORT || event.code == EC_USERABORT)
            finalCode_ = event.code;
        if (notifyFlags_ & AM_MEDIAEVENT_NONOTIFY) {
            queued_.notify_all();
            return;
        }
        queue_.push_back(event);
        events_.Set();
        queued_.notify_all();
        if (notifyWindow_) PostMessageW(notifyWindow_, notifyMessage_, 0, notifyData_);
    }

    CCritSec graphLock_;
    std::vector<Entry> filters_;
    LONG version_ = 1;
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME startTime_ = 0;
    REFERENCE_TIME pausedPosition_ = 0;

    // Events: their own lock, since streaming threads send them while the graph changes state.
    std::mutex eventMutex_;
    std::condition_variable queued_;
    std::deque<Event> queue_;
    CAMEvent events_;
    std::set<IBaseFilter*> renderers_;
    std::set<IBaseFilter*> completed_;
    bool completionQueued_ = false;
    bool passCompletion_ = false;
    LONG finalCode_ = 0;
    HWND notifyWindow_ = 0;
    UINT notifyMessage_ = 0;
    LONG_PTR notifyData_ = 0;
    LONG notifyFlags_ = 0;
};

CEnumFilters::CEnumFilters(CFilterGraph* graph, std::vector<ComPtr<IBaseFilter>> filters, LONG version,
                           size_t position)
    : graph_(graph), filters_(std::move(filters)), version_(version), position_(position)
{
    static_cast<IFilterGraph2*>(graph_)->AddRef();
}

CEnumFilters::~CEnumFilters() { static_cast<IFilterGraph2*>(graph_)->Release(); }

HRESULT STDMETHODCALLTYPE CEnumFilters::Next(ULONG count, IBaseFilter** filters, ULONG* fetched)
{
    if (!filters) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (count > 1) return E_INVALIDARG;
    if (version_ != graph_->Version()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG got = 0;
    while (got < count && position_ < filters_.size()) {
        filters[got] = filters_[position_++].Get();
        filters[got]->AddRef();
        ++got;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumFilters::Skip(ULONG count)
{
    if (version_ != graph_->Version()) return VFW_E_ENUM_OUT_OF_SYNC;
    if (position_ + count > filters_.size()) {
        position_ = filters_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumFilters::Reset()
{
    ComPtr<IEnumFilters> fresh;
    static_cast<IFilterGraph2*>(graph_)->EnumFilters(fresh.Put());
    auto* other = static_cast<CEnumFilters*>(fresh.Get());
    filters_ = other->filters_;
    version_ = other->version_;
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumFilters::Clone(IEnumFilters** clone)
{
    if (!clone) return E_POINTER;
    *clone = new CEnumFilters(graph_, filters_, version_, position_);
    return S_OK;
}

const bool kRegistered = (RegisterBuiltinClass(CLSID_FilterGraph, CreateBuiltin<CFilterGraph::CreateInstance>),
                          RegisterBuiltinClass(CLSID_SystemClock, CreateBuiltin<CSystemClock::CreateInstance>),
                          true);

}  // namespace

void RegisterConverterClass(REFCLSID clsid, const std::u16string& name)
{
    std::lock_guard lock(g_convertersMutex);
    Converters().push_back({clsid, name});
}
