#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class IRunnable {
public:
    virtual ~IRunnable() = default;
    virtual void Run() = 0;
};

// A minimal thread object. Its thread runs Run() once and ends.
class CThread : public IRunnable {
public:
    enum class WaitResult { Ended, TimedOut, Failed };

    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    // Releases the thread object. It neither stops nor waits for a thread that still
    // runs: a derived class that loops must stop its thread first.
    ~CThread() override;

    // Starts the thread; a second call does nothing and reports success.
    bool Start();
    // Waits for the thread to end, at most `milliseconds` (negative: no limit).
    WaitResult Wait(int milliseconds);
    // Forwards to the target when one is set; otherwise returns at once.
    void Run() override;

    uint32_t GetThreadId() const { return ThreadId; }

protected:
    std::unique_ptr<std::thread> ThreadHandle;
    uint32_t ThreadId = 0;
    IRunnable* Target = nullptr;

private:
    void Procedure();

    std::mutex EndMutex;
    std::condition_variable EndSignal;
    bool Ended = false; // guarded by EndMutex
};
