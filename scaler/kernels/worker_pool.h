// The resamplers' worker threads: one per set bit of an affinity mask, each woken by its own
// manual-reset start event and answering on its own done event, so one frame costs two
// wake-ups per worker and no allocation.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A manual-reset event: stays signalled until reset.
class CManualEvent {
public:
    void Set();
    void Reset();
    void Wait();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

// Work order of one worker: [first, last) of rows or columns, and which pass.
#pragma pack(push, 1)
struct ResampleJob {
    uint16_t first;
    uint16_t last;
    uint8_t pass;  // 1 = horizontal pass, 0 = vertical pass
    uint8_t spare;
};
#pragma pack(pop)
static_assert(sizeof(ResampleJob) == 6);

constexpr uint8_t kHorizontalPass = 1;
constexpr uint8_t kVerticalPass = 0;

class CWorkerPool {
public:
    using JobRunner = std::function<void(const ResampleJob&)>;

    CWorkerPool() = default;
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;
    ~CWorkerPool() { Stop(); }

    // One worker per set bit of mask (at least one), each allowed on the processors of mask.
    void Start(uint32_t mask, JobRunner run);
    void Stop();

    uint32_t WorkerCount() const { return static_cast<uint32_t>(threads_.size()); }
    ResampleJob& Job(uint32_t worker) { return jobs_[worker]; }
    // Runs the jobs set with Job() on their workers and returns when all are done.
    void RunJobs();

private:
    void WorkerLoop(uint32_t index);

    JobRunner run_;
    std::vector<std::thread> threads_;
    std::vector<std::unique_ptr<CManualEvent>> startEvents_;
    std::vector<std::unique_ptr<CManualEvent>> doneEvents_;
    std::vector<ResampleJob> jobs_;
    bool keepRunning_ = false;  // written only while all workers wait on their start events
};

// The processors this process may run on, as a mask of the first 32.
uint32_t ProcessAffinityMask();
