// The manager lock's type: re-entrant, and it knows which thread holds it.
#include <gtest/gtest.h>

#include <thread>

#include "platform/base/CriticalSection.h"

namespace {

TEST(CriticalSectionTest, ReentrantAndReportsItsHolder)
{
    CCriticalSection lock;
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
    {
        CGuard outer(lock);
        CGuard inner(lock);
        EXPECT_TRUE(lock.IsHeldByCurrentThread());
        bool otherSees = true;
        std::thread([&] { otherSees = lock.IsHeldByCurrentThread(); }).join();
        EXPECT_FALSE(otherSees);
    }
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
}

} // namespace
