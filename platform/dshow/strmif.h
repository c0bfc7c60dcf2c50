// The DirectShow streaming interfaces. Every interface keeps the Windows method order, so a
// slot number means the same method as on Windows.
#pragma once

#include "../com/stream.h"
#include "../com/variant.h"
#include "formats.h"

using DWORD_PTR = uintptr_t;
using DWORDLONG = uint64_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using HEVENT = DWORD_PTR;      // an event handle (see wxutil.h)
using HSEMAPHORE = DWORD_PTR;  // a handle signalled once per period

constexpr size_t MAX_PIN_NAME = 128;
constexpr size_t MAX_FILTER_NAME = 128;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IMediaSample;
struct IReferenceClock;
struct IMoniker;
struct IBindCtx;
struct IErrorLog;
struct IFileSinkFilter;
struct IAMCopyCaptureFileProgress;

struct PIN_INFO {
    IBaseFilter* pFilter;  // AddRef'd by QueryPinInfo
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};
struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;  // AddRef'd by QueryFilterInfo
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

// IMediaSample2 properties.
struct AM_SAMPLE2_PROPERTIES {
    DWORD cbData;
    DWORD dwTypeSpecificFlags;
    DWORD dwSampleFlags;
    LONG lActual;
    REFERENCE_TIME tStart;
    REFERENCE_TIME tStop;
    DWORD dwStreamId;
    AM_MEDIA_TYPE* pMediaType;
    BYTE* pbBuffer;
    LONG cbBuffer;
};
constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x01;
constexpr DWORD AM_SAMPLE_PREROLL = 0x02;
constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x04;
constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x08;
constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;
constexpr DWORD AM_STREAM_MEDIA = 0;
constexpr DWORD AM_STREAM_CONTROL = 1;

// IMemAllocator::GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

constexpr GUID IID_IMediaFilter = {0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IBaseFilter = {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IPin = {0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IEnumPins = {0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IEnumFilters = {0x56A86893, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IEnumMediaTypes = {0x89C31040, 0x846B, 0x11CE, {0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID IID_IReferenceClock = {0x56A86897, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaSample = {0x56A8689A, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaSample2 = {0x36B73884, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
constexpr GUID IID_IMemAllocator = {0x56A8689C, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMemInputPin = {0x56A8689D, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IFilterGraph = {0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IGraphBuilder = {0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IFilterGraph2 = {0x36B73882, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
constexpr GUID IID_IMediaEventSink = {0x56A868A2, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IQualityControl = {0x56A868A5, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaSeeking = {0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
constexpr GUID IID_IAMovieSetup = {0xA3D8CEC0, 0x7E5A, 0x11CF, {0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20}};
constexpr GUID IID_IPinConnection = {0x4A9A62D3, 0x27D4, 0x403D, {0x91, 0xE9, 0x89, 0xF5, 0x40, 0xE5, 0x55, 0x34}};
constexpr GUID IID_IAMFilterMiscFlags = {0x2DD74950, 0xA890, 0x11D1, {0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
constexpr GUID IID_IKsPropertySet = {0x31EFAC30, 0x515C, 0x11D0, {0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61, 0xBE, 0x93}};
constexpr GUID IID_ICaptureGraphBuilder2 = {0x93E5A4E0, 0x2D50, 0x11D2, {0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D}};
constexpr GUID IID_IAMStreamConfig = {0xC6E13340, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr GUID IID_IAMAudioInputMixer = {0x54C39221, 0x8380, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
constexpr GUID IID_IFileSinkFilter = {0xA2104830, 0x7C70, 0x11CF, {0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6}};
constexpr GUID IID_ISpecifyPropertyPages = {0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr GUID IID_ICreateDevEnum = {0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
constexpr GUID IID_IEnumMoniker = {0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IMoniker = {0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

struct IReferenceClock : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) = 0;
    // Signals `event` once when the clock reaches baseTime + streamTime.
    virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                                 DWORD_PTR* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                     HSEMAPHORE semaphore, DWORD_PTR* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) = 0;
};
VELTRO_INTERFACE_ID(IReferenceClock, IID_IReferenceClock);

struct IMediaFilter : IPersist {
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    // start: the reference time that corresponds to stream time 0.
    virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecsTimeout, FILTER_STATE* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) = 0;
};
VELTRO_INTERFACE_ID(IMediaFilter, IID_IMediaFilter);

struct IEnumPins : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) = 0;
};
VELTRO_INTERFACE_ID(IEnumPins, IID_IEnumPins);

struct IBaseFilter : IMediaFilter {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) = 0;
};
VELTRO_INTERFACE_ID(IBaseFilter, IID_IBaseFilter);

struct IEnumMediaTypes : IUnknown {
    // Each type is CreateMediaType'd; the caller frees it with DeleteMediaType.
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) = 0;
};
VELTRO_INTERFACE_ID(IEnumMediaTypes, IID_IEnumMediaTypes);

struct IPin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};
VELTRO_INTERFACE_ID(IPin, IID_IPin);

struct IEnumFilters : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** clone) = 0;
};
VELTRO_INTERFACE_ID(IEnumFilters, IID_IEnumFilters);

struct IFilterGraph : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
};
VELTRO_INTERFACE_ID(IFilterGraph, IID_IFilterGraph);

struct IGraphBuilder : IFilterGraph {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT STDMETHODCALLTYPE Render(IPin* out) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR file) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;
};
VELTRO_INTERFACE_ID(IGraphBuilder, IID_IGraphBuilder);

struct IFilterGraph2 : IGraphBuilder {
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                                                IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;
};
VELTRO_INTERFACE_ID(IFilterGraph2, IID_IFilterGraph2);

struct IMediaSample : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) = 0;
    virtual LONG STDMETHODCALLTYPE GetSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) = 0;
    virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
    // S_FALSE and nullptr when the type did not change; otherwise a CreateMediaType'd copy.
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};
VELTRO_INTERFACE_ID(IMediaSample, IID_IMediaSample);

struct IMediaSample2 : IMediaSample {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE* properties) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE* properties) = 0;
};
VELTRO_INTERFACE_ID(IMediaSample2, IID_IMediaSample2);

struct IMemAllocator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                                DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) = 0;
};
VELTRO_INTERFACE_ID(IMemAllocator, IID_IMemAllocator);

struct IMemInputPin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveCanBlock() = 0;
};
VELTRO_INTERFACE_ID(IMemInputPin, IID_IMemInputPin);

struct IMediaEventSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
};
VELTRO_INTERFACE_ID(IMediaEventSink, IID_IMediaEventSink);

struct IQualityControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) = 0;
};
VELTRO_INTERFACE_ID(IQualityControl, IID_IQualityControl);

// IMediaSeeking capabilities and positioning flags.
constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;

struct IMediaSeeking : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                        const GUID* sourceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                                   DWORD stopFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRate(double rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(double* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) = 0;
};
VELTRO_INTERFACE_ID(IMediaSeeking, IID_IMediaSeeking);

struct IAMovieSetup : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Register() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unregister() = 0;
};
VELTRO_INTERFACE_ID(IAMovieSetup, IID_IAMovieSetup);

struct IPinConnection : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DynamicQueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyEndOfStream(HEVENT event) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEndPin() = 0;
    virtual HRESULT STDMETHODCALLTYPE DynamicDisconnect() = 0;
};
VELTRO_INTERFACE_ID(IPinConnection, IID_IPinConnection);

// Renderers answer AM_FILTER_MISC_FLAGS_IS_RENDERER: the graph waits for their EC_COMPLETE.
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;
struct IAMFilterMiscFlags : IUnknown {
    virtual ULONG STDMETHODCALLTYPE GetMiscFlags() = 0;
};
VELTRO_INTERFACE_ID(IAMFilterMiscFlags, IID_IAMFilterMiscFlags);

constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;
struct IKsPropertySet : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Set(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceSize,
                                          LPVOID propData, DWORD propSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE Get(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceSize,
                                          LPVOID propData, DWORD propSize, DWORD* returned) = 0;
    virtual HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID propSet, DWORD id, DWORD* support) = 0;
};
VELTRO_INTERFACE_ID(IKsPropertySet, IID_IKsPropertySet);

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** graph) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux,
                                                        IFileSinkFilter** sink) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                                    REFIID iid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                                   IBaseFilter* intermediate, IBaseFilter* sink) = 0;
    virtual HRESULT STDMETHODCALLTYPE ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                                                    REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                                                    WORD stopCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR file, DWORDLONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR oldFile, LPOLESTR newFile, int allowEscAbort,
                                                      IAMCopyCaptureFileProgress* callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                                              const GUID* type, BOOL unconnected, int index, IPin** pin) = 0;
};
VELTRO_INTERFACE_ID(ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2);

struct IAMStreamConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) = 0;
    // caps points at a VIDEO_STREAM_CONFIG_CAPS or AUDIO_STREAM_CONFIG_CAPS of `size` bytes.
    virtual HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) = 0;
};
VELTRO_INTERFACE_ID(IAMStreamConfig, IID_IAMStreamConfig);

struct IAMAudioInputMixer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE put_Enable(BOOL enable) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enable(BOOL* enable) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Mono(BOOL mono) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Mono(BOOL* mono) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MixLevel(double level) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MixLevel(double* level) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Pan(double pan) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Pan(double* pan) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Loudness(BOOL loudness) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Loudness(BOOL* loudness) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Treble(double treble) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Treble(double* treble) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TrebleRange(double* range) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Bass(double bass) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Bass(double* bass) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BassRange(double* range) = 0;
};
VELTRO_INTERFACE_ID(IAMAudioInputMixer, IID_IAMAudioInputMixer);

struct IFileSinkFilter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) = 0;
    // fileName is CoTaskMemAlloc'd; mt (optional) receives a copy of the type set with the name.
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) = 0;
};
VELTRO_INTERFACE_ID(IFileSinkFilter, IID_IFileSinkFilter);

struct CAUUID {
    ULONG cElems;
    GUID* pElems;  // CoTaskMemAlloc'd
};
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) = 0;
};
VELTRO_INTERFACE_ID(ISpecifyPropertyPages, IID_ISpecifyPropertyPages);

// Device enumeration. The moniker is reduced to what device lists use: binding to the
// filter object and to the property bag of the device's descriptive values.
struct IMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* ctx, IMoniker* left, REFIID iid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* ctx, IMoniker* left, REFIID iid, void** ppv) = 0;
};
VELTRO_INTERFACE_ID(IMoniker, IID_IMoniker);

struct IEnumMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** clone) = 0;
};
VELTRO_INTERFACE_ID(IEnumMoniker, IID_IEnumMoniker);

struct ICreateDevEnum : IUnknown {
    // S_FALSE and no enumerator when the category is empty, as on Windows.
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                                            DWORD flags) = 0;
};
VELTRO_INTERFACE_ID(ICreateDevEnum, IID_ICreateDevEnum);

struct IPropertyBag : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) = 0;
};
VELTRO_INTERFACE_ID(IPropertyBag, IID_IPropertyBag);
