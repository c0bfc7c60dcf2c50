// The graph's reference clock: the monotonic system clock in 100 ns units, with one-shot
// and periodic advises served by a helper thread.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "combase.h"
#include "strmif.h"

class CSystemClock : public CUnknown, public IReferenceClock {
public:
    explicit CSystemClock(IUnknown* outer = nullptr, HRESULT* phr = nullptr);
    ~CSystemClock() override;
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** ppv) override;

    // Never goes backwards.
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override;
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                         DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                             HSEMAPHORE semaphore, DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) override;

    // The current monotonic time in 100 ns units.
    static REFERENCE_TIME Now();

private:
    struct Advise {
        REFERENCE_TIME due;
        REFERENCE_TIME period;  // 0 for one-shot
        HEVENT event;
    };
    void AdviseLoop();
    HRESULT AddAdvise(Advise advise, DWORD_PTR* cookie);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<DWORD_PTR, Advise> advises_;
    DWORD_PTR nextCookie_ = 1;
    bool quit_ = false;
    std::thread thread_;  // started with the first advise
};
