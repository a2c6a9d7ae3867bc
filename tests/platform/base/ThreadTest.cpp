// The thread stand-in: one thread per object, and waits on it.
#include <gtest/gtest.h>

#include "platform/base/Thread.h"

namespace {

struct Counter : IRunnable {
    void Run() override { ++Runs; }
    int Runs = 0;
};

class CountingThread : public CThread {
public:
    explicit CountingThread(IRunnable* target) { Target = target; }
};

TEST(ThreadTest, StartTwiceMakesOneThread)
{
    Counter counter;
    CountingThread thread(&counter);
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Wait(5000), CThread::WaitResult::Ended);
    uint32_t id = thread.GetThreadId();
    EXPECT_TRUE(thread.Start());
    EXPECT_EQ(thread.GetThreadId(), id);
    EXPECT_EQ(counter.Runs, 1);
}

TEST(ThreadTest, WaitOnAThreadNeverStartedFails)
{
    CThread thread;
    EXPECT_EQ(thread.Wait(0), CThread::WaitResult::Failed);
}

} // namespace
