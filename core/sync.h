// Locks, conditions and thread identities for code that threads share and
// that also builds natively, without windows.h, so that it can run under
// ThreadSanitizer and AddressSanitizer: slim reader/writer locks and
// condition variables on Windows, the standard library elsewhere.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#endif

class SyncLock {
public:
    SyncLock() = default;
    SyncLock(const SyncLock&) = delete;
    SyncLock& operator=(const SyncLock&) = delete;

#if defined(_WIN32)
    void Acquire() { AcquireSRWLockExclusive(&lock_); }
    void Release() { ReleaseSRWLockExclusive(&lock_); }
#else
    void Acquire() { mutex_.lock(); }
    void Release() { mutex_.unlock(); }
#endif

private:
    friend class SyncCondition;
#if defined(_WIN32)
    SRWLOCK lock_ = SRWLOCK_INIT;
#else
    std::mutex mutex_;
#endif
};

// Holds a lock for one scope.
class SyncGuard {
public:
    explicit SyncGuard(SyncLock& lock) : lock_(lock) { lock_.Acquire(); }
    ~SyncGuard() { lock_.Release(); }
    SyncGuard(const SyncGuard&) = delete;
    SyncGuard& operator=(const SyncGuard&) = delete;

private:
    SyncLock& lock_;
};

class SyncCondition {
public:
    SyncCondition() = default;
    SyncCondition(const SyncCondition&) = delete;
    SyncCondition& operator=(const SyncCondition&) = delete;

#if defined(_WIN32)
    // Lets the held lock go while it waits and holds it again on return.
    void Wait(SyncLock& lock) { SleepConditionVariableSRW(&condition_, &lock.lock_, INFINITE, 0); }
    void WakeAll() { WakeAllConditionVariable(&condition_); }
#else
    void Wait(SyncLock& lock)
    {
        std::unique_lock<std::mutex> held(lock.mutex_, std::adopt_lock);
        condition_.wait(held);
        held.release();
    }
    void WakeAll() { condition_.notify_all(); }
#endif

private:
#if defined(_WIN32)
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
#else
    std::condition_variable condition_;
#endif
};

// An auto-reset wake-up: Set lets one wait return, at once if none waits
// yet. On Windows it is an event, so that a thread can wait on it beside
// other handles (Handle()).
class SyncSignal {
public:
#if defined(_WIN32)
    SyncSignal() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~SyncSignal()
    {
        if (event_ != nullptr) {
            CloseHandle(event_);
        }
    }
    bool Ready() const { return event_ != nullptr; }
    HANDLE Handle() const { return event_; }
    void Set()
    {
        if (event_ != nullptr) {
            SetEvent(event_);
        }
    }
    // True when set within timeoutMs (0: a poll).
    bool WaitFor(uint32_t timeoutMs)
    {
        if (event_ == nullptr) {
            Sleep(timeoutMs);
            return false;
        }
        return WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0;
    }
#else
    SyncSignal() = default;
    bool Ready() const { return true; }
    void Set()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        set_ = true;
        condition_.notify_one();
    }
    bool WaitFor(uint32_t timeoutMs)
    {
        std::unique_lock<std::mutex> held(mutex_);
        bool set = condition_.wait_for(held, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
        set_ = false;
        return set;
    }
#endif
    SyncSignal(const SyncSignal&) = delete;
    SyncSignal& operator=(const SyncSignal&) = delete;

private:
#if defined(_WIN32)
    HANDLE event_;
#else
    std::mutex mutex_;
    std::condition_variable condition_;
    bool set_ = false;
#endif
};

// Tells the calling thread apart from every other thread alive.
inline uint64_t CurrentThreadKey()
{
#if defined(_WIN32)
    return GetCurrentThreadId();
#else
    static thread_local char marker;
    return reinterpret_cast<uintptr_t>(&marker);
#endif
}
