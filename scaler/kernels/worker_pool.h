// The scaler's worker threads: one per set bit of an affinity mask, each woken by its own
// manual-reset start event and answering on its own done event. A frame is one dispatch of up
// to two batches of jobs with a barrier between them among the workers, so it costs one
// wake-up per worker and one for the caller, and no allocation.
#pragma once

#include <atomic>
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
    bool IsSet() const { return signalled_.load(std::memory_order_acquire); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> signalled_{false};  // written under the mutex
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
// A range of destination rows through both passes (the intermediate rows it needs first).
constexpr uint8_t kBothPasses = 2;

class CWorkerPool {
public:
    using JobRunner = std::function<void(const ResampleJob&)>;

    CWorkerPool() = default;
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;
    ~CWorkerPool() { Stop(); }

    // One worker per set bit of mask (at least one); a single one is allowed on the processors
    // of mask, two or more each on the processor of its own bit.
    void Start(uint32_t mask, JobRunner run);
    void Stop();

    static constexpr uint32_t kMaxBatches = 2;

    uint32_t WorkerCount() const { return static_cast<uint32_t>(threads_.size()); }
    // Job j of a batch: one per worker.
    ResampleJob& Job(uint32_t batch, uint32_t j) { return jobs_[size_t(batch) * threads_.size() + j]; }
    // Runs batches [0, batches) of the jobs set with Job(), every job of one batch finished
    // before any of the next starts; returns when all are done. Worker i starts on job i of a
    // batch; one that is done takes a job no one has started yet, so a worker held up (another
    // program on its processor) leaves its share to the others instead of delaying the frame.
    void RunJobs(uint32_t batches);

private:
    void WorkerLoop(uint32_t index);
    // Runs the jobs of a batch this worker can still take, starting with its own.
    void TakeJobs(uint32_t batch, uint32_t index);
    // Waits until every job of the batch is finished: spins first, since the workers finish
    // within microseconds of each other, then sleeps.
    void AwaitBatch(uint32_t batch);
    // The caller's wait for the workers of a dispatch.
    void AwaitWorkers();

    JobRunner run_;
    std::vector<std::thread> threads_;
    std::vector<std::unique_ptr<CManualEvent>> startEvents_;
    std::vector<std::unique_ptr<CManualEvent>> doneEvents_;
    std::vector<ResampleJob> jobs_;  // kMaxBatches rows of one job per worker
    // Per job: taken by some worker; per batch: jobs finished.
    std::unique_ptr<std::atomic<bool>[]> taken_;
    std::atomic<uint32_t> finished_[kMaxBatches] = {};
    std::atomic<uint32_t> workersDone_{0};
    std::vector<int> processors_;  // the processor each worker is bound to, -1 for none
    // Written only while all workers wait on their start events.
    uint32_t batches_ = 0;
    bool keepRunning_ = false;
};

// The processors this process may run on, as a mask of the first 32.
uint32_t ProcessAffinityMask();

// Boundary k of [0, total) split into n ranges of about equal shares (0 for k = 0, total for
// k = n), inner boundaries b placed where b + phase is a multiple of align.
uint32_t BandBoundary(uint32_t k, uint32_t n, uint32_t total, uint32_t align, uint32_t phase = 0);
