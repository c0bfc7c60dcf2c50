// The worker thread's request/reply protocol and the Win32-style events under concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dshow/wxutil.h"

namespace {

constexpr DWORD kExit = 0xFFFF;

// Answers each request with its parameter times two until told to exit.
class EchoWorker : public CAMThread {
public:
    ~EchoWorker() override { Close(); }
    std::atomic<int> served{0};

protected:
    DWORD ThreadProc() override
    {
        for (;;) {
            DWORD request = GetRequest();
            if (request == kExit) {
                Reply(0);
                return 0;
            }
            ++served;
            Reply(request * 2);
        }
    }
};

TEST(WorkerThread, CallWorkerWithoutAThreadFails)
{
    EchoWorker worker;
    EXPECT_FALSE(worker.ThreadExists());
    EXPECT_EQ(worker.CallWorker(1), DWORD(E_FAIL));
}

TEST(WorkerThread, ConcurrentCallersEachGetTheirOwnReply)
{
    EchoWorker worker;
    ASSERT_TRUE(worker.Create());
    EXPECT_FALSE(worker.Create());  // one thread at a time
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (DWORD t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (DWORD i = 0; i < 300; ++i) {
                DWORD request = t * 1000 + i;
                if (worker.CallWorker(request) != request * 2) ++wrong;
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(worker.served.load(), 1200);
    EXPECT_EQ(worker.CallWorker(kExit), 0u);
    worker.Close();
    // After the thread is joined a new one can be made.
    EXPECT_TRUE(worker.Create());
    EXPECT_EQ(worker.CallWorker(21), 42u);
    EXPECT_EQ(worker.CallWorker(kExit), 0u);
}

// Works in a loop and looks at requests with CheckRequest between steps, as a streaming
// thread does; a seen request stays pending until the worker replies.
class BusyWorker : public CAMThread {
public:
    ~BusyWorker() override { Close(); }
    std::atomic<int> steps{0};
    std::atomic<bool> pendingStayed{true};
    std::atomic<DWORD> seenTwice{0};

protected:
    DWORD ThreadProc() override
    {
        DWORD request = GetRequest();  // the first request starts the work
        Reply(request + 1);
        for (;;) {
            DWORD seen = 0;
            while (!CheckRequest(&seen)) ++steps;
            DWORD again = 0;
            if (!CheckRequest(&again) || again != seen) pendingStayed = false;
            // GetRequest returns the pending request at once.
            if (GetRequest() != seen) pendingStayed = false;
            seenTwice = seen;
            Reply(seen + 1);
            if (seen == kExit) return 0;
        }
    }
};

TEST(WorkerThread, CheckRequestSeesARequestWithoutTakingIt)
{
    BusyWorker worker;
    ASSERT_TRUE(worker.Create());
    EXPECT_EQ(worker.CallWorker(10), 11u);
    for (DWORD i = 100; i < 200; ++i) EXPECT_EQ(worker.CallWorker(i), i + 1);
    EXPECT_EQ(worker.CallWorker(kExit), kExit + 1);
    worker.Close();
    EXPECT_TRUE(worker.pendingStayed);
    EXPECT_EQ(worker.seenTwice.load(), kExit);
}

TEST(Events, AutoResetWakesOneWaiterPerSetAndManualResetStaysSet)
{
    CAMEvent automatic(FALSE);
    EXPECT_FALSE(automatic.Check());
    automatic.Set();
    EXPECT_TRUE(automatic.Check());
    EXPECT_FALSE(automatic.Check());  // the wait reset it
    EXPECT_EQ(WaitForSingleObject(automatic, 1), WAIT_TIMEOUT);

    CAMEvent manual(TRUE);
    manual.Set();
    EXPECT_TRUE(manual.Check());
    EXPECT_TRUE(manual.Check());
    manual.Reset();
    EXPECT_FALSE(manual.Check());

    // Three waiters on an auto-reset event need three sets.
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] {
        automatic.Wait();
        ++woken;
    });
    for (int i = 0; i < 3; ++i) {
        automatic.Set();
        while (woken.load() < i + 1) std::this_thread::yield();
    }
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

TEST(Events, CriticalSectionIsRecursive)
{
    CCritSec lock;
    CAutoLock outer(&lock);
    CAutoLock inner(&lock);  // a second lock on the same thread does not deadlock
    SUCCEED();
}

}  // namespace
