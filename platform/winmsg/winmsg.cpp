// Handle table and per-handle message queues.
//
// Every message goes through its handle's FIFO. Whoever delivers (the host's dispatch call,
// or in direct mode the posting thread) drains the queue with the handle's lock released
// around each handler call; one deliverer at a time keeps the handler serialised and the
// order intact, and a message posted from inside the handler is delivered after it returns.
#include "winmsg.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Window {
    WindowMessageHandler handler;
    std::function<void()> wake;

    std::mutex lock;
    std::condition_variable queued;  // a message arrived or the window was destroyed
    std::condition_variable idle;    // delivery or a wake call finished
    std::deque<Message> queue;
    bool destroyed = false;
    bool delivering = false;
    std::thread::id deliverer;
    int wakesRunning = 0;
};

struct WindowTable {
    std::mutex lock;
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
    HWND next = 1;
};

WindowTable& Table()
{
    static WindowTable table;
    return table;
}

std::shared_ptr<Window> Find(HWND handle)
{
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.windows.find(handle);
    return found == table.windows.end() ? nullptr : found->second;
}

size_t Deliver(Window& window)
{
    std::unique_lock guard(window.lock);
    if (window.delivering) return 0;  // the current deliverer will pick the queue up
    window.delivering = true;
    window.deliverer = std::this_thread::get_id();
    auto finish = [&] {
        window.delivering = false;
        window.deliverer = {};
        window.idle.notify_all();
    };
    size_t delivered = 0;
    while (!window.destroyed && !window.queue.empty()) {
        Message m = window.queue.front();
        window.queue.pop_front();
        guard.unlock();
        try {
            window.handler(m.message, m.wParam, m.lParam);
        } catch (...) {
            guard.lock();
            finish();
            throw;
        }
        guard.lock();
        ++delivered;
    }
    finish();
    return delivered;
}

}  // namespace

HWND CreateMessageWindow(WindowMessageHandler handler, std::function<void()> wake)
{
    if (!handler) return 0;
    auto window = std::make_shared<Window>();
    window->handler = std::move(handler);
    window->wake = std::move(wake);
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    // Handles are not reused soon, so a stale handle does not reach a newer window.
    HWND handle;
    do {
        handle = table.next++;
        if (table.next == 0) table.next = 1;
    } while (handle == 0 || table.windows.count(handle));
    table.windows.emplace(handle, std::move(window));
    return handle;
}

void DestroyMessageWindow(HWND handle)
{
    std::shared_ptr<Window> window;
    {
        WindowTable& table = Table();
        std::lock_guard guard(table.lock);
        auto found = table.windows.find(handle);
        if (found == table.windows.end()) return;
        window = std::move(found->second);
        table.windows.erase(found);
    }
    std::unique_lock guard(window->lock);
    window->destroyed = true;
    window->queue.clear();
    window->queued.notify_all();
    // A handler that destroys its own window is the one running call; waiting for it would
    // never end.
    bool calledFromHandler = window->delivering && window->deliverer == std::this_thread::get_id();
    window->idle.wait(guard, [&] {
        return (!window->delivering || calledFromHandler) && window->wakesRunning == 0;
    });
}

BOOL PostMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<Window> window = Find(handle);
    if (!window) return FALSE;
    {
        std::lock_guard guard(window->lock);
        if (window->destroyed) return FALSE;
        window->queue.push_back({message, wParam, lParam});
        if (window->wake) ++window->wakesRunning;
        window->queued.notify_all();
    }
    if (!window->wake) {
        Deliver(*window);
        return TRUE;
    }
    window->wake();
    std::lock_guard guard(window->lock);
    --window->wakesRunning;
    window->idle.notify_all();
    return TRUE;
}

size_t DispatchWindowMessages(HWND handle)
{
    std::shared_ptr<Window> window = Find(handle);
    return window ? Deliver(*window) : 0;
}

size_t WaitAndDispatchWindowMessages(HWND handle, int timeoutMs)
{
    std::shared_ptr<Window> window = Find(handle);
    if (!window) return 0;
    {
        std::unique_lock guard(window->lock);
        window->queued.wait_for(guard, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                                [&] { return window->destroyed || !window->queue.empty(); });
    }
    return Deliver(*window);
}
