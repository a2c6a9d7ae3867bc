// A TCP peer that reads slowly while the application writes as fast as it can: what
// the bridge costs while the network holds it back.
#include "Cases.h"

namespace bench {

namespace {

constexpr double ReaderBytesPerSecond = 3.6e6;
constexpr double WarmUpSeconds = 0.5; // the socket buffers fill; then the reader's pace rules
constexpr uint64_t ReaderChunk = 4096; // the reader takes at least this much at a time

// The application's writes and the peer's reads, in one poll loop.
class SlowReader {
public:
    SlowReader(int app, int peer, const std::string& who) : App(app), Peer(peer), Who(who) {}

    // Runs until `end`; the bytes the peer read and checked so far.
    uint64_t RunUntil(Clock::time_point end)
    {
        const Pattern& pattern = ThePattern();
        std::vector<uint8_t> in(IoSize);
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            uint64_t allowed = static_cast<uint64_t>(ReaderBytesPerSecond * SecondsBetween(Start, now));
            uint64_t allowance = allowed > Got ? allowed - Got : 0;
            pollfd fds[2] = {{App, POLLOUT, 0}, {Peer, static_cast<short>(allowance >= ReaderChunk ? POLLIN : 0), 0}};
            int timeout = allowance >= ReaderChunk
                ? 100
                : 1 + static_cast<int>(1000.0 * static_cast<double>(ReaderChunk - allowance) / ReaderBytesPerSecond);
            if (poll(fds, 2, timeout) < 0 && errno != EINTR)
                Fail(ErrnoText("poll"));
            if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) {
                ssize_t n = write(App, pattern.At(Sent), IoSize);
                if (n > 0)
                    Sent += static_cast<uint64_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    Fail(Who + ": " + ErrnoText("write"));
            }
            if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
                ssize_t n = read(Peer, in.data(), static_cast<size_t>(std::min<uint64_t>(allowance, IoSize)));
                if (n > 0) {
                    pattern.Check(Got, in.data(), static_cast<size_t>(n), Who + ", slow reader");
                    Got += static_cast<uint64_t>(n);
                    LastRead = Clock::now();
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    Fail(Who + ": the slow reader's connection failed");
                }
            }
            if (SecondsBetween(LastRead, Clock::now()) > StallSeconds)
                Fail(Who + ": the slow reader got nothing for " + std::to_string(StallSeconds) + " s");
        }
        return Got;
    }

private:
    int App, Peer;
    std::string Who;
    const Clock::time_point Start = Clock::now();
    Clock::time_point LastRead = Clock::now();
    uint64_t Sent = 0, Got = 0;
};

Clock::time_point After(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

void SlowReaderCase(const Options& options, Report& report)
{
    ContestPlan plan;
    plan.Label = "slow TCP reader";
    plan.Console = plan.Socat = Layout::Uniform(1, PortLayout {.TcpClient = true});
    // Events are seconds: the calls per second of a bridge held back.
    plan.Measure = [&options](Bridge& bridge, bool counting) {
        SlowReader reader(bridge.Ports[0].App.Get(), bridge.Ports[0].Peer.Get(), bridge.Name);
        uint64_t before = reader.RunUntil(After(WarmUpSeconds));
        Reading from = bridge.Read();
        uint64_t after = reader.RunUntil(After(counting ? options.CountSeconds : options.PacedSeconds));
        Sample sample = Sample::Between(from, bridge.Read());
        sample.Bytes = static_cast<double>(after - before);
        sample.Events = sample.Seconds;
        return std::vector<Sample> {sample};
    };
    Contest contest = RunContest(options, plan);
    const std::string job = "slow TCP reader (3.6 MB/s), application writing flat out";
    MedianRow(report, job, "CPU % of a core", contest, true, 0, CpuPercent, 2);
    MedianRow(report, job, "delivered MB/s", contest, true, 0, MegabytesPerSecond, 2);
    MedianRow(report, job, "pump passes/s", contest, false, 0, PassesPerSecond, 0);
    MedianRow(report, job, "peak resident MiB", contest, true, 0, PeakMiB, 1);
    CallsRow(report, job, "system calls/s", contest, true, 0);
    TopCallsNote(report, job, contest);
    double cpu = contest.Console.Median(0, CpuPercent);
    report.Target("slow TCP reader: under 3 % of a core (%)", cpu, cpu < 3);
}

} // namespace bench
