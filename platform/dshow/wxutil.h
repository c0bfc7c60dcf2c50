// Synchronisation helpers of the streaming base classes: event handles, critical sections,
// CAMEvent and the worker thread with its request/reply protocol.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "../com/unknown.h"

using HANDLE = void*;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Win32-style events. A handle stays valid until CloseHandle.
HANDLE CreateEventW(void* attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE event);
// WAIT_OBJECT_0 when signalled (an auto-reset event is reset by the wait), WAIT_TIMEOUT otherwise.
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
void Sleep(DWORD milliseconds);

// A recursive lock, as a Win32 critical section is.
class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock_;
};

// Owns one event handle.
class CAMEvent {
public:
    explicit CAMEvent(BOOL manualReset = FALSE, HRESULT* phr = nullptr);
    ~CAMEvent();
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;

    operator HANDLE() const { return event_; }
    void Set() { SetEvent(event_); }
    void Reset() { ResetEvent(event_); }
    BOOL Wait(DWORD milliseconds = INFINITE) { return WaitForSingleObject(event_, milliseconds) == WAIT_OBJECT_0; }
    // Non-blocking test (resets an auto-reset event that was set).
    BOOL Check() { return Wait(0); }

private:
    HANDLE event_;
};

// A worker thread that its owner commands with numbered requests. CallWorker blocks the
// caller until the worker answers with Reply. The worker takes a request with GetRequest (or
// sees it with CheckRequest while busy: the request stays pending until Reply).
class CAMThread {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts ThreadProc; FALSE when the thread already exists.
    BOOL Create();
    // Waits for the thread to end (after it was told to exit).
    void Close();
    BOOL ThreadExists() const;

    // Caller side: E_FAIL (as a DWORD) when there is no thread.
    DWORD CallWorker(DWORD param);
    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* param);
    void Reply(DWORD result);

    CCritSec m_AccessLock;  // serialises callers of CallWorker
    CCritSec m_WorkerLock;  // for the worker's own use

protected:
    virtual DWORD ThreadProc() = 0;

private:
    CAMEvent m_EventSend{TRUE};  // manual reset: stays set until Reply
    CAMEvent m_EventComplete{FALSE};
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    std::thread m_thread;
    mutable std::mutex m_threadMutex;
};
