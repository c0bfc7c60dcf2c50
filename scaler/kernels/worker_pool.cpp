#include "worker_pool.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <memory>

#include <immintrin.h>
#include <pthread.h>
#include <sched.h>

void CManualEvent::Set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void CManualEvent::Reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

void CManualEvent::Wait()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return signalled_.load(std::memory_order_relaxed); });
}

// Spins up to `limit` for done() to hold: for waits expected to end within microseconds.
template <class Done>
static bool SpinFor(std::chrono::microseconds limit, Done done)
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    do {
        for (int i = 0; i < 32; ++i) {
            if (done()) return true;
            _mm_pause();
        }
    } while (std::chrono::steady_clock::now() < giveUp);
    return false;
}

uint32_t ProcessAffinityMask()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
    uint32_t mask = 0;
    for (int cpu = 0; cpu < 32; ++cpu)
        if (CPU_ISSET(cpu, &set)) mask |= 1u << cpu;
    return mask ? mask : 1;
}

uint32_t BandBoundary(uint32_t k, uint32_t n, uint32_t total, uint32_t align, uint32_t phase)
{
    if (k == 0) return 0;
    if (k >= n) return total;
    const int64_t even = int64_t(k) * total / n + phase;
    const int64_t aligned = (even + align / 2) / align * align - phase;
    return static_cast<uint32_t>(std::clamp<int64_t>(aligned, 0, total));
}

static bool AllowProcessors(std::thread& thread, uint32_t mask)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 32; ++cpu)
        if (mask & (1u << cpu)) CPU_SET(cpu, &set);
    // A mask naming absent processors is refused by the kernel.
    return pthread_setaffinity_np(thread.native_handle(), sizeof(set), &set) == 0;
}

// The i-th set bit of mask alone.
static uint32_t NthBit(uint32_t mask, uint32_t i)
{
    for (; i > 0; --i) mask &= mask - 1;
    return mask & (~mask + 1);
}

void CWorkerPool::Start(uint32_t mask, JobRunner run)
{
    Stop();
    run_ = std::move(run);
    uint32_t count = std::max(1, std::popcount(mask));
    jobs_.assign(size_t(kMaxBatches) * count, ResampleJob{});
    taken_ = std::make_unique<std::atomic<bool>[]>(size_t(kMaxBatches) * count);
    for (uint32_t i = 0; i < count; ++i) {
        startEvents_.push_back(std::make_unique<CManualEvent>());
        doneEvents_.push_back(std::make_unique<CManualEvent>());
    }
    keepRunning_ = true;
    // Each worker gets its index as its argument, so it knows its slot before it first runs.
    // With two or more, the i-th runs on the processor of the i-th set bit: allowed the whole
    // mask, the workers of a frame are mostly woken on the one processor that woke them and take
    // turns there instead of sharing the frame. Where that processor is refused, the whole mask
    // (and failing that anywhere).
    for (uint32_t i = 0; i < count; ++i) {
        threads_.emplace_back(&CWorkerPool::WorkerLoop, this, i);
        const uint32_t own = NthBit(mask, i);
        processors_.push_back(count >= 2 && AllowProcessors(threads_.back(), own) ? std::countr_zero(own) : -1);
        if (processors_.back() < 0 && mask) AllowProcessors(threads_.back(), mask);
    }
}

void CWorkerPool::Stop()
{
    if (threads_.empty()) return;
    keepRunning_ = false;
    for (auto& start : startEvents_) start->Set();
    for (auto& thread : threads_) thread.join();
    threads_.clear();
    startEvents_.clear();
    doneEvents_.clear();
    jobs_.clear();
    processors_.clear();
}

void CWorkerPool::RunJobs(uint32_t batches)
{
    batches_ = batches;
    for (size_t j = 0; j < jobs_.size(); ++j) taken_[j].store(false, std::memory_order_relaxed);
    for (auto& finished : finished_) finished.store(0, std::memory_order_relaxed);
    workersDone_.store(0, std::memory_order_relaxed);
    // Workers on other processors first: theirs is the longer wake-up, and one on this
    // processor can only start once the caller sleeps.
    const int here = sched_getcpu();
    for (size_t i = 0; i < threads_.size(); ++i)
        if (processors_[i] != here) startEvents_[i]->Set();
    for (size_t i = 0; i < threads_.size(); ++i)
        if (processors_[i] == here) startEvents_[i]->Set();
    AwaitWorkers();
    for (auto& done : doneEvents_) done->Wait();
    for (auto& done : doneEvents_) done->Reset();
}

void CWorkerPool::AwaitWorkers()
{
    const uint32_t n = WorkerCount();
    auto allDone = [&] { return workersDone_.load(std::memory_order_acquire) == n; };
    // Asleep until the first worker is done: until then every processor of the pool has a
    // worker to run. After that the rest is the imbalance of the shares, mostly microseconds,
    // shorter than being woken on an idle processor: spin for it (a bounded time within this
    // frame's work, never waiting for the next frame), unless a worker still running needs
    // this processor.
    uint32_t done;
    while ((done = workersDone_.load(std::memory_order_acquire)) == 0) workersDone_.wait(0, std::memory_order_acquire);
    if (done < n) {
        const int here = sched_getcpu();
        bool spin = true;
        for (size_t i = 0; i < threads_.size(); ++i)
            if (!doneEvents_[i]->IsSet() && (processors_[i] < 0 || processors_[i] == here)) spin = false;
        if (spin && SpinFor(std::chrono::microseconds(50), allDone)) return;
    }
    while ((done = workersDone_.load(std::memory_order_acquire)) != n) workersDone_.wait(done, std::memory_order_acquire);
}

void CWorkerPool::TakeJobs(uint32_t batch, uint32_t index)
{
    const uint32_t n = WorkerCount();
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t j = (index + k) % n;
        if (taken_[size_t(batch) * n + j].exchange(true, std::memory_order_relaxed)) continue;
        run_(Job(batch, j));
        // Finishing publishes the job's writes to whoever sees the whole batch finished.
        if (finished_[batch].fetch_add(1, std::memory_order_acq_rel) + 1 == n) finished_[batch].notify_all();
    }
}

void CWorkerPool::AwaitBatch(uint32_t batch)
{
    const uint32_t n = WorkerCount();
    std::atomic<uint32_t>& finished = finished_[batch];
    // About the imbalance of two shares of a batch; beyond it a worker was preempted, and
    // spinning would only keep it from its processor.
    if (SpinFor(std::chrono::microseconds(30), [&] { return finished.load(std::memory_order_acquire) == n; })) return;
    for (uint32_t seen; (seen = finished.load(std::memory_order_acquire)) != n;)
        finished.wait(seen, std::memory_order_acquire);
}

void CWorkerPool::WorkerLoop(uint32_t index)
{
    CManualEvent& start = *startEvents_[index];
    CManualEvent& done = *doneEvents_[index];
    for (;;) {
        start.Wait();
        if (!keepRunning_) break;
        for (uint32_t batch = 0; batch < batches_; ++batch) {
            if (batch > 0) AwaitBatch(batch - 1);
            TakeJobs(batch, index);
        }
        start.Reset();
        done.Set();
        workersDone_.fetch_add(1, std::memory_order_acq_rel);
        workersDone_.notify_all();
    }
    done.Set();
}
