#include "platform/base/CriticalSection.h"

void CCriticalSection::Enter()
{
    Mutex.lock();
    if (Depth++ == 0)
        Owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void CCriticalSection::Leave()
{
    bool wake = false;
    if (--Depth == 0) {
        Owner.store(std::thread::id(), std::memory_order_relaxed);
        wake = Touched && ReleaseHook && QuietThread != std::this_thread::get_id();
        Touched = false;
    }
    Mutex.unlock();
    if (wake)
        ReleaseHook();
}

bool CCriticalSection::IsHeldByCurrentThread() const
{
    return Owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void CCriticalSection::SetReleaseHook(std::function<void()> hook)
{
    ReleaseHook = std::move(hook);
}

void CCriticalSection::Touch()
{
    QLN_ASSERT_HELD(this);
    Touched = true;
}

void CCriticalSection::MarkQuietThread()
{
    QuietThread = std::this_thread::get_id();
}
