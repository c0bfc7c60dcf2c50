// Automation-style graph control: IMediaControl, IMediaEvent(Ex), IVideoWindow, with their
// Windows method order (IDispatch's four methods first) and the event codes.
#pragma once

#include "strmif.h"

using OAFilterState = LONG;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using LCID = DWORD;
using DISPID = LONG;
struct ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;

constexpr GUID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IMediaControl = {0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaEvent = {0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IMediaEventEx = {0x56A868C0, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID IID_IVideoWindow = {0x56A868B4, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// Automation is not offered: the four methods exist for the slot order and answer E_NOTIMPL.
struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                                    DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
};
VELTRO_INTERFACE_ID(IDispatch, IID_IDispatch);

struct IMediaControl : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR fileName, IDispatch** filterInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** collection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** collection) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};
VELTRO_INTERFACE_ID(IMediaControl, IID_IMediaControl);

struct IMediaEvent : IDispatch {
    // The handle is an event (see wxutil.h) that is set while events are queued.
    virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* event) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                                               LONG msTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
};
VELTRO_INTERFACE_ID(IMediaEvent, IID_IMediaEvent);

struct IMediaEventEx : IMediaEvent {
    // Posts `message` (wParam 0, lParam = instanceData) to the window when an event is queued.
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* flags) = 0;
};
VELTRO_INTERFACE_ID(IMediaEventEx, IID_IMediaEventEx);
constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IVideoWindow : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Caption(BSTR caption) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG style) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* style) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG* style) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AutoShow(LONG autoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AutoShow(LONG* autoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowState(LONG state) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowState(LONG* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG palette) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG* palette) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Visible(LONG visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Visible(LONG* visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Left(LONG left) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Left(LONG* left) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Width(LONG width) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Width(LONG* width) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Top(LONG top) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Top(LONG* top) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Height(LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BorderColor(LONG* color) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BorderColor(LONG color) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG* fullScreen) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG fullScreen) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG focus) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam,
                                                         LONG_PTR lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE HideCursor(LONG hide) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG* hidden) = 0;
};
VELTRO_INTERFACE_ID(IVideoWindow, IID_IVideoWindow);

constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;
constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;
constexpr LONG WS_VISIBLE = 0x10000000;

// Event codes.
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_PALETTE_CHANGED = 0x09;
constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr LONG EC_QUALITY_CHANGE = 0x0B;
constexpr LONG EC_SHUTTING_DOWN = 0x0C;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
constexpr LONG EC_PAUSED = 0x0E;
constexpr LONG EC_OPENING_FILE = 0x10;
constexpr LONG EC_BUFFERING_DATA = 0x11;
constexpr LONG EC_FULLSCREEN_LOST = 0x12;
constexpr LONG EC_ACTIVATE = 0x13;
constexpr LONG EC_NEED_RESTART = 0x14;
constexpr LONG EC_WINDOW_DESTROYED = 0x15;
constexpr LONG EC_DISPLAY_CHANGED = 0x16;
constexpr LONG EC_STARVATION = 0x17;
constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
constexpr LONG EC_END_OF_SEGMENT = 0x1C;
constexpr LONG EC_SEGMENT_STARTED = 0x1D;
constexpr LONG EC_LENGTH_CHANGED = 0x1E;
constexpr LONG EC_DEVICE_LOST = 0x1F;
constexpr LONG EC_ERRORABORTEX = 0x45;
constexpr LONG EC_USER = 0x8000;
