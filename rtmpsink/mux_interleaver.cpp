#include "mux_interleaver.h"

namespace {
constexpr auto kInputPoll = std::chrono::milliseconds(20);
}

int32_t CMuxInterleaver::AddStream(bool required)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto stream = std::make_unique<CMuxInterStream>();
    stream->required = required ? 1 : 0;
    stream->index = static_cast<int32_t>(streams_.size());
    streams_.push_back(std::move(stream));
    return streams_.back()->index;
}

void CMuxInterleaver::RemoveAllStreams()
{
    std::lock_guard<std::mutex> hold(lock_);
    streams_.clear();
    dataArrived_.notify_all();
    roomMade_.notify_all();
}

void CMuxInterleaver::SetAbort()
{
    std::lock_guard<std::mutex> hold(lock_);
    abort_ = true;
    dataArrived_.notify_all();
    roomMade_.notify_all();
}

void CMuxInterleaver::ResetAbort()
{
    std::lock_guard<std::mutex> hold(lock_);
    abort_ = false;
}

bool CMuxInterleaver::WaitForRoom(int32_t streamIndex, const std::function<bool()>& stopping)
{
    std::unique_lock<std::mutex> hold(lock_);
    auto stream = [&]() -> CMuxInterStream* {
        return streamIndex >= 0 && streamIndex < static_cast<int32_t>(streams_.size()) ? streams_[streamIndex].get()
                                                                                        : nullptr;
    };
    for (;;) {
        roomMade_.wait_for(hold, kInputPoll, [&] { return abort_ || !stream() || stream()->QueueNotFull(); });
        if (stopping() || abort_ || !stream()) return false;
        if (stream()->QueueNotFull()) return true;
    }
}

bool CMuxInterleaver::QueuePacket(PacketPtr packet)
{
    std::lock_guard<std::mutex> hold(lock_);
    int32_t index = packet->streamIndex;
    if (index < 0 || index >= static_cast<int32_t>(streams_.size())) return false;
    streams_[index]->queue.push_back(std::move(packet));
    if (!dataAvailable_) dataArrived_.notify_one();
    dataAvailable_ = true;
    return true;
}

namespace {

// An end-of-stream packet sorts after every sample, so the other inputs' queued samples still
// go out before output ends.
bool OutputsBefore(const CMuxInterPacket& a, const CMuxInterPacket& b)
{
    if (a.endOfStream != b.endOfStream) return !a.endOfStream;
    return a.start < b.start;
}

}  // namespace

int CMuxInterleaver::TakeNext(PacketPtr& packet)
{
    bool allEnded = true;
    bool allHaveData = true;
    CMuxInterStream* chosen = nullptr;
    for (auto& stream : streams_) {
        bool empty = stream->queue.empty();
        if (stream->active && stream->required && (empty || !stream->queue.front()->endOfStream)) allEnded = false;
        // On equal start times the earlier stream keeps the choice.
        if (!empty && (!chosen || OutputsBefore(*stream->queue.front(), *chosen->queue.front())))
            chosen = stream.get();
        if (stream->required && empty) {
            dataAvailable_ = false;
            allHaveData = false;
        }
    }
    if (streams_.empty() || allEnded) return kEnd;
    if (!chosen || !allHaveData) return kTimeout;
    // An end-of-stream packet stays queued: output is over once it comes first.
    if (chosen->queue.front()->endOfStream) return kEnd;
    packet = std::move(chosen->queue.front());
    chosen->queue.pop_front();
    if (chosen->queue.size() == CMuxInterStream::kMaxQueue - 1) roomMade_.notify_all();
    return kPacket;
}

int CMuxInterleaver::GetNextPacket(std::chrono::milliseconds timeout, PacketPtr& packet)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> hold(lock_);
    auto woken = [&] { return abort_ || dataAvailable_; };
    if (!dataArrived_.wait_until(hold, deadline, woken)) return kTimeout;
    for (;;) {
        if (abort_) return kAbort;
        if (std::chrono::steady_clock::now() > deadline) return kTimeout;
        int result = TakeNext(packet);
        if (result != kTimeout) return result;
        if (!dataArrived_.wait_until(hold, deadline, woken)) return kTimeout;
    }
}
