// A server link in a console that runs out of descriptors: the listener rests
// instead of spinning, the clients it has go on being served, and it accepts again
// once descriptors are free. The console runs in a child process whose open-file
// limit is cut down; the clients are this process's.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "support/Console.h"
#include "support/ProcessStats.h"

using namespace qlntest;

namespace {

// The child: a console with a server link on `port` whose application echoes what
// it reads. Reports its open-file limit on `control` once it is ready and ends
// when `control` closes.
[[noreturn]] void RunEchoConsole(uint16_t port, int control)
{
    {
        Console console;
        console.Port->AddTcpServer(port);
        // One byte each way through the link first, while descriptors are plenty: the
        // sanitizers' checks open a pipe the first time they meet a path, which they
        // could not once the descriptors run out.
        {
            UniqueFd warm = ConnectTo(port);
            SendAll(warm, {'w'});
            const auto got = console.Application->ReadExactly(1);
            console.Application->WriteAll(got);
            RecvExactly(warm, 1);
        }
        int highest = 0;
        for (int fd = 0; fd < 4096; ++fd)
            if (fcntl(fd, F_GETFD) >= 0)
                highest = fd;
        int limit = highest + 21; // room for 20 clients at least
        rlimit cut {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_NOFILE, &cut);
        [[maybe_unused]] ssize_t n = write(control, &limit, sizeof limit);
        for (;;) {
            pollfd waits[2] = {{control, POLLIN, 0}, {console.Application->Fd.Get(), POLLIN, 0}};
            poll(waits, 2, 1000);
            if (waits[0].revents)
                break;
            auto echo = console.Application->ReadAvailable();
            if (!echo.empty())
                console.Application->WriteAll(echo);
        }
    }
    _exit(0);
}

TEST(DescriptorLimitTest, ListenerRestsWhileDescriptorsRunOutAndRecovers)
{
    uint16_t port = FreePort();
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    UniqueFd control(ends[0]), childEnd(ends[1]);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        control.Reset();
        RunEchoConsole(port, childEnd.Get());
    }
    childEnd.Reset();
    int limit = 0;
    pollfd ready {control.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 20000), 1);
    ASSERT_EQ(read(control.Get(), &limit, sizeof limit), ssize_t(sizeof limit));

    // More clients than the child has descriptors left.
    const std::string pid = std::to_string(child);
    std::vector<UniqueFd> clients(static_cast<size_t>(limit - DescriptorCount(pid) + 20));
    for (UniqueFd& fd : clients) {
        fd = ConnectTo(port);
        ASSERT_TRUE(fd);
    }
    ASSERT_TRUE(WaitUntil([&] { return DescriptorCount(pid) >= limit; })) << "the child never ran out: " << DescriptorCount(pid) << " of " << limit;

    double before = CpuSeconds(child);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(CpuSeconds(child) - before, 0.2) << "the console spins on its listener";

    // A client it has is still served.
    ASSERT_TRUE(SendAll(clients[0], {'a'}));
    EXPECT_EQ(RecvExactly(clients[0], 1), std::vector<uint8_t> {'a'});

    // Descriptors come free: the listener takes the waiting connections and new ones.
    for (size_t i = 1; i < clients.size(); ++i)
        clients[i].Reset();
    UniqueFd late = ConnectTo(port);
    ASSERT_TRUE(late);
    ASSERT_TRUE(WaitUntil([&] {
        SendAll(late, {'z'});
        pollfd p {late.Get(), POLLIN, 0};
        return poll(&p, 1, 100) == 1;
    }, 20)) << "the listener did not recover";
    EXPECT_EQ(RecvExactly(late, 1), std::vector<uint8_t> {'z'});

    control.Reset(); // the child ends with its control connection
    int status = 0;
    if (!WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 20)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
}

} // namespace
