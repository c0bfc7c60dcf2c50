#include "sink_harness.h"

#include <chrono>
#include <thread>

#include "com/plugin.h"

SinkHarness::SinkHarness()
{
    std::string path = std::string(VELTRO_BIN_DIR) + "/filters/KeshRTMPSink.ax";
    CreateInstanceFromLibrary(path, CLSID_KeshRTMPSink, IID_IBaseFilter, filter_.PutVoid());
    if (filter_) filter_.As(control_);
    window_ = CreateMessageWindow([this](UINT message, WPARAM count, LPARAM sent) {
        if (message != WM_RTMP_SENT) return;
        if (sends_++ == 0) {
            firstCount_ = count;
            firstResult_ = sent;
        }
        if (sent > 0) bytesSent_ += static_cast<uint64_t>(sent);
        lastSend_ = std::chrono::steady_clock::now().time_since_epoch().count();
    });
    if (control_) control_->SetNotifyWindow(window_);
}

SinkHarness::~SinkHarness()
{
    control_.Reset();
    filter_.Reset();
    DestroyMessageWindow(window_);
}

IPin* SinkHarness::InputPin(int index)
{
    ComPtr<IEnumPins> pins;
    if (!filter_ || FAILED(filter_->EnumPins(pins.Put()))) return nullptr;
    IPin* pin = nullptr;
    for (int i = 0; i <= index; ++i) {
        if (pin) pin->Release();
        pin = nullptr;
        ULONG fetched = 0;
        if (pins->Next(1, &pin, &fetched) != S_OK) return nullptr;
    }
    pin->Release();  // the filter keeps its pins alive
    return pin;
}

bool SinkHarness::ConnectAndRun(TestSource* source)
{
    int next = 0;
    for (IPin* output : {source->VideoPin(), source->AudioPin()}) {
        if (!output) continue;
        if (FAILED(output->Connect(InputPin(next++), nullptr))) return false;
    }
    return SUCCEEDED(filter_->Pause()) && SUCCEEDED(source->Pause()) && SUCCEEDED(filter_->Run(0)) &&
           SUCCEEDED(source->Run(0));
}

void SinkHarness::WaitUntilSent(TestSource* source, int maxSeconds)
{
    using namespace std::chrono;
    auto deadline = steady_clock::now() + seconds(maxSeconds);
    while (!source->Finished() && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(20));
    // The output thread drains the queues after the source is done.
    uint64_t last = ~0ull;
    while (Sends() != last && steady_clock::now() < deadline) {
        last = Sends();
        std::this_thread::sleep_for(milliseconds(500));
    }
}

void SinkHarness::StopGraph(TestSource* source)
{
    source->Stop();
    filter_->Stop();
    // Connected pins hold their filters: break the connections as a graph does on removal.
    for (int i = 0; IPin* input = InputPin(i); ++i) {
        ComPtr<IPin> output;
        if (FAILED(input->ConnectedTo(output.Put()))) continue;
        output->Disconnect();
        input->Disconnect();
    }
}
