// Drives KeshRTMPSink.ax as the program does: through its class factory and
// INetworkConnection, fed by a TestSource connected to its pins.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "../../interfaces/network_connection.h"
#include "dshow/strmif.h"
#include "test_source.h"
#include "winmsg/winmsg.h"

class SinkHarness {
public:
    SinkHarness();
    ~SinkHarness();

    IBaseFilter* Filter() { return filter_.Get(); }
    INetworkConnection* Control() { return control_.Get(); }
    IPin* InputPin(int index);

    // Connects the source's outputs to the sink's inputs (video first), then pauses and runs both.
    bool ConnectAndRun(TestSource* source);
    // Waits until the source has delivered everything and the sink's sends have settled.
    void WaitUntilSent(TestSource* source, int maxSeconds = 120);
    void StopGraph(TestSource* source);

    uint64_t BytesSent() const { return bytesSent_.load(); }
    uint64_t Sends() const { return sends_.load(); }
    // When the last WM_RTMP_SENT was posted.
    std::chrono::steady_clock::time_point LastSendTime() const
    {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastSend_.load()));
    }
    // wParam and lParam of the first WM_RTMP_SENT.
    std::pair<WPARAM, LPARAM> FirstSend() const { return {firstCount_.load(), firstResult_.load()}; }

private:
    ComPtr<IBaseFilter> filter_;
    ComPtr<INetworkConnection> control_;
    HWND window_ = 0;
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<uint64_t> sends_{0};
    std::atomic<WPARAM> firstCount_{0};
    std::atomic<LPARAM> firstResult_{0};
    std::atomic<std::chrono::steady_clock::rep> lastSend_{0};
};
