#include "refclock.h"

#include <chrono>

#include "reftime.h"
#include "wxutil.h"

CSystemClock::CSystemClock(IUnknown* outer, HRESULT* phr) : CUnknown("System clock", outer, phr) {}

CSystemClock::~CSystemClock()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

CUnknown* CSystemClock::CreateInstance(IUnknown* outer, HRESULT* phr) { return new CSystemClock(outer, phr); }

HRESULT STDMETHODCALLTYPE CSystemClock::NonDelegatingQueryInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(iid, ppv);
}

REFERENCE_TIME CSystemClock::Now()
{
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

HRESULT STDMETHODCALLTYPE CSystemClock::GetTime(REFERENCE_TIME* time)
{
    if (!time) return E_POINTER;
    *time = Now();
    return S_OK;
}

HRESULT CSystemClock::AddAdvise(Advise advise, DWORD_PTR* cookie)
{
    if (!cookie) return E_POINTER;
    if (!advise.event) return E_INVALIDARG;
    {
        std::lock_guard lock(mutex_);
        *cookie = nextCookie_++;
        advises_.emplace(*cookie, advise);
        if (!thread_.joinable()) thread_ = std::thread([this] { AdviseLoop(); });
    }
    changed_.notify_all();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                                   DWORD_PTR* cookie)
{
    REFERENCE_TIME due;
    if (__builtin_add_overflow(baseTime, streamTime, &due) || due <= 0) return E_INVALIDARG;
    return AddAdvise({due, 0, event}, cookie);
}

HRESULT STDMETHODCALLTYPE CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                       HSEMAPHORE semaphore, DWORD_PTR* cookie)
{
    if (startTime <= 0 || periodTime <= 0) return E_INVALIDARG;
    return AddAdvise({startTime, periodTime, semaphore}, cookie);
}

HRESULT STDMETHODCALLTYPE CSystemClock::Unadvise(DWORD_PTR cookie)
{
    std::lock_guard lock(mutex_);
    return advises_.erase(cookie) ? S_OK : S_FALSE;
}

void CSystemClock::AdviseLoop()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        REFERENCE_TIME now = Now();
        REFERENCE_TIME next = INT64_MAX;
        for (auto it = advises_.begin(); it != advises_.end();) {
            Advise& advise = it->second;
            if (advise.due <= now) {
                SetEvent(reinterpret_cast<HANDLE>(advise.event));
                if (advise.period == 0) {
                    it = advises_.erase(it);
                    continue;
                }
                // A periodic advise that fell behind fires once and resumes from now.
                while (advise.due <= now) advise.due += advise.period;
            }
            next = std::min(next, advise.due);
            ++it;
        }
        // Far-off times are waited for in steps of an hour: 100 ns units times 100 would overflow.
        constexpr REFERENCE_TIME kLongestWait = 3600 * UNITS;
        if (next == INT64_MAX)
            changed_.wait(lock);
        else
            changed_.wait_for(lock, std::chrono::nanoseconds(std::min(next - now, kLongestWait) * 100));
    }
}
