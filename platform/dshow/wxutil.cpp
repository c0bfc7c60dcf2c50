#include "wxutil.h"

#include <chrono>

namespace {

struct EventObject {
    std::mutex mutex;
    std::condition_variable signalled;
    bool manualReset;
    bool state;
};

EventObject* FromHandle(HANDLE handle) { return static_cast<EventObject*>(handle); }

}  // namespace

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR)
{
    return new EventObject{{}, {}, manualReset != FALSE, initialState != FALSE};
}

BOOL SetEvent(HANDLE handle)
{
    EventObject* event = FromHandle(handle);
    if (!event) return FALSE;
    {
        std::lock_guard lock(event->mutex);
        event->state = true;
    }
    if (event->manualReset)
        event->signalled.notify_all();
    else
        event->signalled.notify_one();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle)
{
    EventObject* event = FromHandle(handle);
    if (!event) return FALSE;
    std::lock_guard lock(event->mutex);
    event->state = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    delete FromHandle(handle);
    return handle != nullptr;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    EventObject* event = FromHandle(handle);
    if (!event) return WAIT_FAILED;
    std::unique_lock lock(event->mutex);
    auto isSet = [event] { return event->state; };
    if (milliseconds == INFINITE)
        event->signalled.wait(lock, isSet);
    else if (!event->signalled.wait_for(lock, std::chrono::milliseconds(milliseconds), isSet))
        return WAIT_TIMEOUT;
    if (!event->manualReset) event->state = false;
    return WAIT_OBJECT_0;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

CAMEvent::CAMEvent(BOOL manualReset, HRESULT* phr) : event_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}

CAMEvent::~CAMEvent() { CloseHandle(event_); }

CAMThread::CAMThread(HRESULT*) {}

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create()
{
    std::lock_guard lock(m_threadMutex);
    if (m_thread.joinable()) return FALSE;
    m_thread = std::thread([this] { ThreadProc(); });
    return TRUE;
}

void CAMThread::Close()
{
    std::thread thread;
    {
        std::lock_guard lock(m_threadMutex);
        thread = std::move(m_thread);
    }
    if (thread.joinable()) thread.join();
}

BOOL CAMThread::ThreadExists() const
{
    std::lock_guard lock(m_threadMutex);
    return m_thread.joinable();
}

DWORD CAMThread::CallWorker(DWORD param)
{
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists()) return DWORD(E_FAIL);
    m_dwParam = param;
    m_EventSend.Set();
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

DWORD CAMThread::GetRequest()
{
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* param)
{
    if (!m_EventSend.Check()) return FALSE;
    if (param) *param = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD result)
{
    m_dwReturnVal = result;
    // Reset before completing, or the caller could send the next request and we would lose it.
    m_EventSend.Reset();
    m_EventComplete.Set();
}
