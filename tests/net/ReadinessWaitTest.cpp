// The pump's wait on real descriptors: a failed wait says why instead of passing for
// an empty one; a descriptor that reports a hang-up at every wait while nothing
// takes it leaves the wait with an event, and stays out until opened again.
#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/ReadinessWait.h"
#include "platform/base/EventLog.h"
#include "platform/base/UniqueFd.h"

namespace {

// The epoll instances this process holds, by descriptor.
std::set<int> EpollDescriptors()
{
    std::set<int> found;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        char target[64] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 && std::string(target) == "anon_inode:[eventpoll]")
            found.insert(std::atoi(entry->d_name));
    }
    if (dir)
        closedir(dir);
    return found;
}

std::vector<std::string> Said()
{
    std::vector<std::string> texts;
    for (const Event& event : EventLog::Instance().Since(0))
        texts.push_back(event.Source + ": " + event.Text);
    return texts;
}

TEST(ReadinessWaitTest, AFailedWaitSaysWhy)
{
    const std::set<int> before = EpollDescriptors();
    ReadinessWait wait;
    ASSERT_TRUE(wait.Valid() && !wait.CreateFailure());
    int epoll = -1;
    for (int fd : EpollDescriptors())
        if (!before.count(fd))
            epoll = fd;
    ASSERT_GE(epoll, 0);

    epoll_event events[4];
    ReadinessWait::Found found = wait.Wait(events, 4, 0);
    EXPECT_EQ(found.Count, 0);
    EXPECT_FALSE(found.Why);
    // Another kind of descriptor in the wait's place: the system refuses the wait.
    const UniqueFd other(eventfd(0, EFD_CLOEXEC));
    ASSERT_EQ(dup2(other.Get(), epoll), epoll);
    found = wait.Wait(events, 4, 0);
    EXPECT_EQ(found.Count, 0);
    EXPECT_EQ(found.Why.Text(), "epoll_wait: Invalid argument");
    EXPECT_EQ(wait.AddOwn(other.Get(), 1).Text(), "epoll_ctl: Invalid argument");
    EXPECT_EQ(wait.AddOwn(-1, 1).Text(), "no descriptor");
}

TEST(ReadinessWaitTest, ADescriptorThatKeepsFailingLeavesTheWait)
{
    EventLog::Instance().Reset();
    ReadinessWait wait;
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const UniqueFd near(ends[0]);
    close(ends[1]); // a hang-up, reported at every wait until the socket is closed
    WaitRegistration registration;
    WaitReport report;
    wait.Update(registration, near.Get(), 1, EPOLLIN, &report, nullptr);
    ASSERT_TRUE(registration.Registered());

    epoll_event events[4];
    int waits = 0;
    while (registration.Registered() && waits < 100 * 1000 * 1000) {
        const int found = wait.Wait(events, 4, 0).Count;
        ASSERT_EQ(found, 1);
        wait.Deliver(events[0].data.u64, events[0].events);
        ++waits;
    }
    EXPECT_FALSE(registration.Registered());
    EXPECT_GE(waits, static_cast<int>(ReadinessWait::FailingWaits));
    EXPECT_TRUE(report.Events & EPOLLHUP); // the owner heard of the last report
    EXPECT_EQ(wait.Wait(events, 4, 0).Count, 0) << "the wait no longer wakes for it";
    const std::string said = "pump: descriptor " + std::to_string(near.Get())
        + " reported a hang-up at every wait for 2 s while nothing took it; it is out of the wait until it is opened again";
    EXPECT_EQ(Said(), std::vector<std::string> {said});

    // The same opening is not taken again; the next one is.
    wait.Update(registration, near.Get(), 1, EPOLLIN, &report, nullptr);
    EXPECT_FALSE(registration.Registered());
    wait.Update(registration, near.Get(), 2, EPOLLIN, &report, nullptr);
    EXPECT_TRUE(registration.Registered());
}

TEST(ReadinessWaitTest, ADescriptorTheSystemRefusesIsSaidOnce)
{
    EventLog::Instance().Reset();
    ReadinessWait wait;
    // A regular file cannot be waited on.
    char name[] = "/tmp/qln-wait-XXXXXX";
    const UniqueFd file(mkstemp(name));
    unlink(name);
    WaitRegistration registration;
    WaitReport report;
    for (int step = 0; step < 3; ++step)
        wait.Update(registration, file.Get(), 7, EPOLLIN, &report, nullptr);
    EXPECT_FALSE(registration.Registered());
    EXPECT_EQ(Said(), std::vector<std::string> {"pump: descriptor " + std::to_string(file.Get())
                                                + " cannot be waited on (epoll_ctl: Operation not permitted); it is "
                                                  "out of the wait until it is opened again"});
}

} // namespace
