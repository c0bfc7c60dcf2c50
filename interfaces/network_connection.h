// Control interface of the RTMP publishing sink (KeshRTMPSink.ax) and the window message
// it posts after every socket send.
#pragma once

#include "com/unknown.h"

constexpr GUID CLSID_KeshRTMPSink = {0x4F53DDC3, 0x94ED, 0x46A4, {0x9F, 0xBD, 0x75, 0x65, 0x15, 0x28, 0x70, 0x24}};
constexpr GUID IID_INetworkConnection = {0xFE2329F1, 0x3DC9, 0x4C99, {0xAA, 0xE7, 0xF7, 0xB7, 0xD8, 0xF6, 0x77, 0xB6}};

// wParam: the byte count send was asked to transmit; lParam: send's result (bytes, or -1).
constexpr unsigned WM_RTMP_SENT = 0x0464;

// All methods return 0 for success; Connect returns 1 when the transport connect failed.
struct INetworkConnection : IUnknown {
    // Keeps its own copy of the rtmp:// address for the next Connect.
    virtual HRESULT STDMETHODCALLTYPE SetConnectionString(const char* url) = 0;
    // The log file is the folder text followed directly by "rtmp.log".
    virtual HRESULT STDMETHODCALLTYPE SetLogFolder(const char* folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(uint32_t window) = 0;
    // 1 while the socket is open, 0 otherwise or without a connection.
    virtual HRESULT STDMETHODCALLTYPE GetConnectionState(uint8_t* connected) = 0;
    virtual HRESULT STDMETHODCALLTYPE Connect() = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    // Restarts the stream on a running graph after Disconnect and a new Connect.
    virtual HRESULT STDMETHODCALLTYPE StartStream() = 0;
};
VELTRO_INTERFACE_ID(INetworkConnection, IID_INetworkConnection);
