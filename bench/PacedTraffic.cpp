#include "PacedTraffic.h"

#include <map>
#include <sys/epoll.h>

#include "BridgeMeasures.h"

namespace bench {

namespace {

constexpr auto Period = std::chrono::milliseconds(10);

// One descriptor of the streams: what it writes and what it reads.
struct End {
    int Fd = -1;
    int Writes = -1;       // stream index, or -1
    int Reads = -1;        // stream index, or -1
    uint64_t Got = 0;      // bytes of its read stream so far
    bool Writable = true;  // until a write would block; then until EPOLLOUT
};

// The benchmark's own loop must stay cheap beside the contestant's: with 64 ports
// it serves 12,800 timed writes a second, so it waits on epoll (descriptors
// registered once) with a nanosecond timeout rather than poll over all of them.
class PacedLoop {
public:
    PacedLoop(const std::vector<Stream>& streams, const std::string& who)
        : Streams(streams), Who(who), Due(streams.size(), 0), Sent(streams.size(), 0),
          Epoll(epoll_create1(EPOLL_CLOEXEC))
    {
        if (Epoll.Get() < 0)
            Fail(ErrnoText("epoll_create1"));
        std::map<int, size_t> index;
        auto at = [&](int fd) -> size_t {
            auto [it, added] = index.emplace(fd, Ends.size());
            if (added)
                Ends.push_back(End {fd});
            return it->second;
        };
        for (size_t s = 0; s < streams.size(); ++s) {
            Ends[at(streams[s].Writer)].Writes = static_cast<int>(s);
            for (int reader : streams[s].Readers)
                Ends[at(reader)].Reads = static_cast<int>(s);
        }
        WriterOf.resize(streams.size());
        for (size_t i = 0; i < Ends.size(); ++i) {
            if (Ends[i].Writes >= 0)
                WriterOf[Ends[i].Writes] = i;
            Watch(i, EPOLL_CTL_ADD);
        }
    }

    PacedTotals Run(double seconds)
    {
        const auto start = Clock::now();
        const auto slot = std::chrono::nanoseconds(Period) / static_cast<long>(Streams.size());
        const auto stop = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        uint64_t next = 0; // the next turn: stream next % streams, at start + next * slot
        uint64_t late = 0;
        LastProgress = start;
        std::vector<epoll_event> events(Ends.size());
        for (;;) {
            auto now = Clock::now();
            for (; start + static_cast<long>(next) * slot <= std::min(now, stop); ++next) {
                late += now - (start + static_cast<long>(next) * slot) > std::chrono::milliseconds(1);
                size_t stream = next % Streams.size();
                Due[stream] += MessageBytes;
                Write(WriterOf[stream]);
            }
            if (now >= stop && AllThrough())
                break;
            auto wait = now < stop ? start + static_cast<long>(next) * slot - now : std::chrono::milliseconds(50);
            timespec timeout {0, static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count())};
            int n = epoll_pwait2(Epoll.Get(), events.data(), static_cast<int>(events.size()), &timeout, nullptr);
            if (n < 0 && errno != EINTR)
                Fail(ErrnoText("epoll_pwait2"));
            for (int i = 0; i < n; ++i) {
                size_t end = events[i].data.u64;
                if (events[i].events & (EPOLLOUT | EPOLLERR)) {
                    Ends[end].Writable = true;
                    Watch(end, EPOLL_CTL_MOD);
                    Write(end);
                }
                if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP))
                    Read(Ends[end]);
            }
            if (SecondsBetween(LastProgress, Clock::now()) > StallSeconds)
                Fail(Who + ": paced bytes stopped coming");
        }
        PacedTotals totals;
        for (auto& end : Ends)
            if (end.Reads >= 0)
                totals.Bytes += static_cast<double>(end.Got);
        totals.Deliveries = totals.Bytes / MessageBytes;
        totals.OnTime = next ? 1 - static_cast<double>(late) / static_cast<double>(next) : NAN;
        return totals;
    }

private:
    void Watch(size_t end, int operation)
    {
        const End& e = Ends[end];
        epoll_event event {};
        event.events = (e.Reads >= 0 ? uint32_t {EPOLLIN} : 0u) | (e.Writable ? 0u : uint32_t {EPOLLOUT});
        event.data.u64 = end;
        if (epoll_ctl(Epoll.Get(), operation, e.Fd, &event) != 0)
            Fail(ErrnoText("epoll_ctl"));
    }

    void Write(size_t end)
    {
        End& e = Ends[end];
        uint64_t& sent = Sent[e.Writes];
        while (e.Writable && sent < Due[e.Writes]) {
            size_t length = static_cast<size_t>(std::min<uint64_t>(Due[e.Writes] - sent, IoSize));
            ssize_t n = write(e.Fd, ThePattern().At(Streams[e.Writes].Base + sent), length);
            if (n > 0) {
                sent += static_cast<uint64_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                e.Writable = false;
                Watch(end, EPOLL_CTL_MOD);
            } else if (n < 0 && errno != EINTR) {
                Fail(Who + ": " + ErrnoText("write"));
            }
        }
    }

    void Read(End& e)
    {
        ssize_t n = read(e.Fd, In, sizeof In);
        if (n > 0) {
            if (e.Got + static_cast<uint64_t>(n) > Sent[e.Reads])
                Fail(Who + ": more bytes arrived than were sent");
            ThePattern().Check(Streams[e.Reads].Base + e.Got, In, static_cast<size_t>(n), Who);
            e.Got += static_cast<uint64_t>(n);
            LastProgress = Clock::now();
        } else if (n == 0) {
            Fail(Who + ": a stream's far side closed");
        } else if (errno != EAGAIN && errno != EINTR) {
            Fail(Who + ": " + ErrnoText("read"));
        }
    }

    bool AllThrough() const
    {
        for (auto& end : Ends)
            if ((end.Reads >= 0 && end.Got != Due[end.Reads]) || (end.Writes >= 0 && Sent[end.Writes] != Due[end.Writes]))
                return false;
        return true;
    }

    const std::vector<Stream>& Streams;
    const std::string Who;
    std::vector<End> Ends;
    std::vector<size_t> WriterOf;  // stream -> its writer's end
    std::vector<uint64_t> Due;     // per stream: bytes due by now
    std::vector<uint64_t> Sent;    // per stream: bytes written
    Fd Epoll;
    Clock::time_point LastProgress;
    uint8_t In[IoSize];
};

} // namespace

PacedTotals RunPaced(const std::vector<Stream>& streams, double seconds, const std::string& who)
{
    auto loop = std::make_unique<PacedLoop>(streams, who);
    return loop->Run(seconds);
}

} // namespace bench
