#include "platform/base/Thread.h"

#include <chrono>
#include <system_error>
#include <sys/syscall.h>
#include <unistd.h>

CThread::~CThread()
{
    if (!ThreadHandle)
        return;
    bool ended;
    {
        std::lock_guard<std::mutex> hold(EndMutex);
        ended = Ended;
    }
    // An ended thread is joined; one that still runs is let go, as the owner was told.
    if (ended && ThreadHandle->joinable())
        ThreadHandle->join();
    else if (ThreadHandle->joinable())
        ThreadHandle->detach();
}

bool CThread::Start()
{
    if (ThreadHandle)
        return true;
    try {
        ThreadHandle = std::make_unique<std::thread>(&CThread::Procedure, this);
    } catch (const std::system_error&) {
        // No thread to be had (the system's limit): the caller reports the start failed.
        ThreadHandle.reset();
        return false;
    }
    return true;
}

void CThread::Procedure()
{
    {
        std::lock_guard<std::mutex> hold(EndMutex);
        ThreadId = static_cast<uint32_t>(syscall(SYS_gettid));
    }
    Run();
    std::lock_guard<std::mutex> hold(EndMutex);
    Ended = true;
    EndSignal.notify_all();
}

CThread::WaitResult CThread::Wait(int milliseconds)
{
    if (!ThreadHandle)
        return WaitResult::Failed;
    std::unique_lock<std::mutex> hold(EndMutex);
    if (milliseconds < 0)
        EndSignal.wait(hold, [this] { return Ended; });
    else if (!EndSignal.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return Ended; }))
        return WaitResult::TimedOut;
    return WaitResult::Ended;
}

void CThread::Run()
{
    if (Target)
        Target->Run();
}
