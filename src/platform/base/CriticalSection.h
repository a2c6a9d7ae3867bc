#pragma once
#include <atomic>
#include <cassert>
#include <functional>
#include <mutex>
#include <thread>

// The console's one re-entrant lock. The thread that holds it may enter again.
class CCriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter();
    void Leave();
    // For assertions of the "lock held" preconditions.
    bool IsHeldByCurrentThread() const;

    // `hook` runs after the outermost Leave of every thread but the one that last
    // called MarkQuietThread, when the holder changed something (Touch) while it held
    // the lock. The port manager uses it to wake its pump when the window thread has
    // added a link or changed a setting; a hold that only read (the window's refresh)
    // wakes nothing. Set it before any other thread uses the lock.
    void SetReleaseHook(std::function<void()> hook);
    // Call with the lock held, from the thread whose releases need no hook.
    void MarkQuietThread();
    // Call with the lock held: what the holder changes needs the pump's attention.
    void Touch();

private:
    std::recursive_mutex Mutex;
    std::atomic<std::thread::id> Owner{};
    int Depth = 0;                      // guarded by Mutex
    std::thread::id QuietThread{};      // guarded by Mutex
    bool Touched = false;               // guarded by Mutex
    std::function<void()> ReleaseHook;  // set before the threads share the lock
};

// Checks a "called with the lock held" precondition in debug builds.
#define QLN_ASSERT_HELD(lock) assert((lock)->IsHeldByCurrentThread())

// Holds a CCriticalSection for the life of a scope.
class CGuard {
public:
    explicit CGuard(CCriticalSection* lock) : Lock(lock) { Lock->Enter(); }
    explicit CGuard(CCriticalSection& lock) : CGuard(&lock) {}
    ~CGuard() { Lock->Leave(); }
    CGuard(const CGuard&) = delete;
    CGuard& operator=(const CGuard&) = delete;

private:
    CCriticalSection* Lock;
};
