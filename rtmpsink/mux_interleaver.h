// Queues the samples of every input and hands them to the single output thread in start-time
// order, once every input has something queued. Back-pressure: an input's Receive waits while
// its queue holds 50 packets.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "mux_packet.h"

struct CMuxInterStream {
    static constexpr size_t kMaxQueue = 50;
    int32_t index = 0;
    uint8_t active = 1;
    uint8_t required = 1;
    std::deque<PacketPtr> queue;
    bool QueueNotFull() const { return queue.size() < kMaxQueue; }
};

class CMuxInterleaver {
public:
    static constexpr int kPacket = 0;
    static constexpr int kTimeout = -1;
    static constexpr int kAbort = -2;
    static constexpr int kEnd = -3;

    // Returns the index of the new stream. Output waits for data on required streams only.
    int32_t AddStream(bool required = true);
    void RemoveAllStreams();

    // Waits, in 20 ms slices, until the stream's queue has room; false on abort, when
    // `stopping` says so, or when the stream is gone.
    bool WaitForRoom(int32_t streamIndex, const std::function<bool()>& stopping);
    // False (and the packet is deleted) when its stream index is not a stream.
    bool QueuePacket(PacketPtr packet);
    // kPacket with `packet` set, kTimeout, kAbort or kEnd.
    int GetNextPacket(std::chrono::milliseconds timeout, PacketPtr& packet);

    void SetAbort();
    void ResetAbort();

private:
    // Picks the packet to output under the lock; kTimeout means "wait for more data".
    int TakeNext(PacketPtr& packet);

    std::mutex lock_;
    // Separate wake-ups for the output thread and the inputs, each sent only on the change
    // its waiters wait for, so a packet costs no needless thread switch.
    std::condition_variable dataArrived_;
    std::condition_variable roomMade_;
    std::vector<std::unique_ptr<CMuxInterStream>> streams_;
    bool abort_ = false;
    bool dataAvailable_ = false;
};
