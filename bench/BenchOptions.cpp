#include "BenchOptions.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {

namespace {

void Usage()
{
    std::printf(
        "usage: bridge_bench [--quick] [--cases LIST] [--rounds N] [--size-mib N] [--trips N] [--warmup N]\n"
        "                    [--seconds S] [--count-seconds S] [--idle-seconds S] [--ports LIST]\n"
        "                    [--clients LIST] [--socat PATH] [--counter auto|perf|strace|none]\n"
        "                    [--strace PATH] [--only console|socat]\n"
        "  --quick    smoke run: 1 round, every case at a tiny size\n"
        "  --cases    a comma-separated subset of: paced,broadcast,slow,idle,roundtrip,bulk,log,rfc2217,\n"
        "             tls,monitor\n"
        "  --rounds   console and socat take turns N times (default 3); medians are shown\n"
        "  --seconds  timed window of the paced, broadcast and slow-reader cases (default 4)\n"
        "  --ports    port counts of the paced case (default 1,16,64)\n"
        "  --clients  client counts of the broadcast case (default 1,10,100)\n"
        "  --counter  counts system calls in a separate pass: perf (little overhead), strace (names the\n"
        "             calls, but slows a busy contestant enough to change its counts), none; auto: perf\n"
        "             when it counts here, else strace when it is on PATH\n"
        "  --only     run one contestant (for profiling it); no ratios\n");
}

[[noreturn]] void Refuse(bool help = false)
{
    Usage();
    std::exit(help ? 0 : 2);
}

std::vector<int> NumberList(const std::string& text)
{
    std::vector<int> numbers;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ','))
        numbers.push_back(std::stoi(item));
    return numbers;
}

void Quick(Options& options)
{
    options.Bytes = 4ull << 20;
    options.Trips = 200;
    options.WarmUp = 50;
    options.IdleSeconds = 0.5;
    options.PacedSeconds = 0.3;
    options.CountSeconds = 0.3;
    options.Rounds = 1;
}

bool Positive(const std::vector<int>& numbers, int most)
{
    if (numbers.empty())
        return false;
    for (int n : numbers)
        if (n <= 0 || n > most)
            return false;
    return true;
}

} // namespace

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 0; i < argc; ++i)
        options.Command += (i ? " " : "") + std::string(argv[i]);
    try {
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc)
                    Refuse();
                return argv[++i];
            };
            if (arg == "--quick") {
                Quick(options);
            } else if (arg == "--cases") {
                std::stringstream items(value());
                std::string item;
                while (std::getline(items, item, ',')) {
                    bool known = false;
                    for (auto& name : CaseNames())
                        known = known || name == item;
                    if (!known)
                        Refuse();
                    options.Cases.insert(item);
                }
            } else if (arg == "--size-mib") {
                options.Bytes = std::stoull(value()) << 20;
            } else if (arg == "--rounds") {
                options.Rounds = std::stoi(value());
            } else if (arg == "--trips") {
                options.Trips = std::stoi(value());
            } else if (arg == "--warmup") {
                options.WarmUp = std::stoi(value());
            } else if (arg == "--idle-seconds") {
                options.IdleSeconds = std::stod(value());
            } else if (arg == "--seconds") {
                options.PacedSeconds = std::stod(value());
            } else if (arg == "--count-seconds") {
                options.CountSeconds = std::stod(value());
            } else if (arg == "--ports") {
                options.PacedPorts = NumberList(value());
            } else if (arg == "--clients") {
                options.Clients = NumberList(value());
            } else if (arg == "--socat") {
                options.Socat = value();
            } else if (arg == "--strace") {
                options.Strace = value();
            } else if (arg == "--counter") {
                options.CounterWanted = value();
                if (options.CounterWanted != "auto" && options.CounterWanted != "perf"
                    && options.CounterWanted != "strace" && options.CounterWanted != "none")
                    Refuse();
            } else if (arg == "--only") {
                std::string who = value();
                options.Console = who == "console";
                options.SocatToo = who == "socat";
                if (!options.Console && !options.SocatToo)
                    Refuse();
            } else {
                Refuse(arg == "--help" || arg == "-h");
            }
        }
    } catch (const std::exception&) { // a number that is not one
        Refuse();
    }
    // The COM numbers of one case run from 10 on, below 256; the clients of one
    // server link share the benchmark's descriptors.
    if (options.Bytes == 0 || options.Trips <= 0 || options.WarmUp < 0 || options.IdleSeconds <= 0
        || options.PacedSeconds <= 0 || options.CountSeconds <= 0 || options.Rounds <= 0
        || !Positive(options.PacedPorts, 200) || !Positive(options.Clients, 1000))
        Refuse();
    return options;
}

} // namespace bench
