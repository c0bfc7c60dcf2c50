#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "winmsg/winmsg.h"

namespace {

constexpr int kPosters = 8;
constexpr int kMessagesEach = 2000;

// Records what the handler receives; wParam carries the poster, lParam its sequence number.
struct Receiver {
    std::mutex lock;
    std::vector<std::vector<LPARAM>> seen = std::vector<std::vector<LPARAM>>(kPosters);
    std::atomic<int> concurrent{0};
    bool overlapped = false;

    void operator()(UINT message, WPARAM poster, LPARAM sequence)
    {
        if (concurrent.fetch_add(1) != 0) overlapped = true;
        {
            std::lock_guard guard(lock);
            seen[poster].push_back(sequence);
        }
        concurrent.fetch_sub(1);
    }

    void ExpectEveryMessageInOrder()
    {
        EXPECT_FALSE(overlapped) << "handler calls of one window must not overlap";
        for (int p = 0; p < kPosters; ++p) {
            ASSERT_EQ(seen[p].size(), size_t(kMessagesEach)) << "poster " << p;
            for (int i = 0; i < kMessagesEach; ++i) ASSERT_EQ(seen[p][i], i) << "poster " << p;
        }
    }
};

void PostFromManyThreads(HWND window)
{
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([=] {
            for (int i = 0; i < kMessagesEach; ++i) ASSERT_TRUE(PostMessageW(window, WM_USER + 100, p, i));
        });
    for (auto& poster : posters) poster.join();
}

TEST(WindowMessages, DirectDeliveryKeepsEachPostersOrder)
{
    Receiver receiver;
    HWND window = CreateMessageWindow([&](UINT m, WPARAM w, LPARAM l) { receiver(m, w, l); });
    ASSERT_NE(window, 0u);
    PostFromManyThreads(window);
    DestroyMessageWindow(window);
    receiver.ExpectEveryMessageInOrder();
}

TEST(WindowMessages, HostDispatchDeliversOnTheHostThread)
{
    Receiver receiver;
    std::atomic<int> wakes{0};
    std::thread::id hostThread;
    std::atomic<bool> wrongThread{false};
    HWND window = CreateMessageWindow(
        [&](UINT m, WPARAM w, LPARAM l) {
            if (std::this_thread::get_id() != hostThread) wrongThread = true;
            receiver(m, w, l);
        },
        [&] { ++wakes; });
    std::atomic<bool> done{false}, hostReady{false};
    std::thread host([&] {
        hostThread = std::this_thread::get_id();
        hostReady = true;
        size_t delivered = 0;
        while (!done || delivered < size_t(kPosters * kMessagesEach))
            delivered += WaitAndDispatchWindowMessages(window, 10);
    });
    // The host's id must be set before any delivery; the host only delivers what is posted.
    while (!hostReady) std::this_thread::yield();
    PostFromManyThreads(window);
    done = true;
    host.join();
    DestroyMessageWindow(window);
    EXPECT_EQ(wakes, kPosters * kMessagesEach);
    EXPECT_FALSE(wrongThread);
    receiver.ExpectEveryMessageInOrder();
}

TEST(WindowMessages, RefusesUnknownAndDestroyedHandles)
{
    std::vector<UINT> received;
    HWND window = CreateMessageWindow([&](UINT m, WPARAM, LPARAM) { received.push_back(m); }, [] {});
    EXPECT_FALSE(PostMessageW(0, 1, 0, 0));
    EXPECT_FALSE(PostMessageW(window + 1000, 1, 0, 0));
    EXPECT_TRUE(PostMessageW(window, 1, 0, 0));
    EXPECT_TRUE(PostMessageW(window, 2, 0, 0));
    DestroyMessageWindow(window);
    EXPECT_FALSE(PostMessageW(window, 3, 0, 0));
    EXPECT_EQ(DispatchWindowMessages(window), 0u);
    EXPECT_TRUE(received.empty()) << "queued messages of a destroyed window are dropped";
    HWND next = CreateMessageWindow([](UINT, WPARAM, LPARAM) {});
    EXPECT_NE(next, window) << "handles are not reused at once";
    DestroyMessageWindow(next);
}

TEST(WindowMessages, HandlerMayPostToAndDestroyItsOwnWindow)
{
    std::vector<UINT> received;
    HWND window = 0;
    window = CreateMessageWindow([&](UINT m, WPARAM, LPARAM) {
        received.push_back(m);
        if (m == 1) {
            EXPECT_TRUE(PostMessageW(window, 2, 0, 0));
        }
        if (m == 2) DestroyMessageWindow(window);
    });
    EXPECT_TRUE(PostMessageW(window, 1, 0, 0));
    EXPECT_EQ(received, (std::vector<UINT>{1, 2}));
    EXPECT_FALSE(PostMessageW(window, 1, 0, 0));
}

TEST(WindowMessages, NoHandlerCallAfterDestroyReturns)
{
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> destroyed{false};
        std::atomic<bool> lateCall{false};
        std::atomic<int> calls{0};
        HWND window = CreateMessageWindow([&](UINT, WPARAM, LPARAM) {
            if (destroyed) lateCall = true;
            ++calls;
        });
        std::atomic<bool> stop{false};
        std::vector<std::thread> posters;
        for (int p = 0; p < 4; ++p)
            posters.emplace_back([&] {
                while (!stop && PostMessageW(window, 1, 0, 0)) {
                }
            });
        while (calls < 100) std::this_thread::yield();
        DestroyMessageWindow(window);
        destroyed = true;
        stop = true;
        for (auto& poster : posters) poster.join();
        EXPECT_FALSE(lateCall) << "round " << round;
    }
}

}  // namespace
