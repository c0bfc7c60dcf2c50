// The filter is registered with ThreadingModel "Both": its connection state may be polled from
// another thread while Connect and Disconnect replace the connection.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_rtmp_server.h"
#include "flv_mux.h"

TEST(SinkConnectionState, PollingWhileConnectAndDisconnectReplaceTheConnection)
{
    constexpr int kSessions = 3;
    FakeRtmpServer server;
    ASSERT_TRUE(server.Listening());
    std::thread script([&] {
        for (int i = 0; i < kSessions && server.AcceptPublisher(); ++i) {
        }
    });
    HRESULT hr = S_OK;
    auto* mux = static_cast<CFLVMux*>(CFLVMux::CreateInstance(nullptr, &hr));
    ASSERT_TRUE(mux);
    mux->NonDelegatingAddRef();
    INetworkConnection* control = mux;
    control->SetConnectionString(server.Url("live/@cam").c_str());

    std::atomic<bool> done{false};
    std::atomic<int> connectedPolls{0};
    std::thread poller([&] {
        while (!done) {
            uint8_t state = 0;
            control->GetConnectionState(&state);
            connectedPolls += state;
        }
    });
    for (int i = 0; i < kSessions; ++i) {
        EXPECT_EQ(control->Connect(), 0);
        control->Disconnect();
    }
    done = true;
    poller.join();
    script.join();
    EXPECT_GT(connectedPolls.load(), 0);
    mux->NonDelegatingRelease();
}
