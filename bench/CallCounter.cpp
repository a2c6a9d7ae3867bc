#include "CallCounter.h"

#include <algorithm>

namespace bench {

namespace {

// perf leaves a lone tracepoint event uncounted on some kernels; with a clock
// event beside it, it counts.
const std::vector<std::string> PerfEvents {"-e", "raw_syscalls:sys_enter,task-clock", "-x,"};

// The tracer of one thread, from its status; 0 when none.
pid_t TracerOf(const std::string& task)
{
    std::ifstream status("/proc/" + task + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("TracerPid:", 0) == 0)
            return static_cast<pid_t>(std::stol(line.substr(10)));
    return 0;
}

size_t ThreadCount(const std::vector<pid_t>& pids)
{
    size_t count = 0;
    for (pid_t pid : pids)
        count += Threads(pid).size();
    return count;
}

// perf has attached once it holds an event per event kind and thread.
bool PerfAttached(pid_t perf, const std::vector<pid_t>& pids)
{
    size_t events = 0;
    std::error_code error;
    for (auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(perf) + "/fd", error))
        events += std::filesystem::read_symlink(entry.path(), error).string().find("perf_event") != std::string::npos;
    return events >= 2 * ThreadCount(pids);
}

bool StraceAttached(pid_t strace, const std::vector<pid_t>& pids)
{
    for (pid_t pid : pids)
        for (auto& tid : Threads(pid))
            if (TracerOf(std::to_string(pid) + "/task/" + tid) != strace)
                return false;
    return true;
}

// perf stat -x,: "<count>,<unit>,raw_syscalls:sys_enter,...". "<not counted>" when
// no thread counted ran at all: perf counts a thread only while it is on a CPU, and
// an idle contestant may never be. ChooseCounter saw perf count, so that is 0.
CallCount ParsePerf(std::istream& in)
{
    CallCount count;
    for (std::string line; std::getline(in, line);) {
        if (line.find(",raw_syscalls:sys_enter,") == std::string::npos)
            continue;
        count.Calls = std::isdigit(static_cast<unsigned char>(line[0])) ? std::stod(line)
                    : line.rfind("<not counted>", 0) == 0 ? 0 : NAN;
    }
    return count;
}

// strace -c's table: "% time  seconds  usecs/call  calls  [errors]  syscall", the
// last row named "total". The calls are the fourth column whether or not the
// errors column is filled. A contestant that made no call gets no rows at all.
CallCount ParseStrace(std::istream& in)
{
    CallCount count;
    count.Calls = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[0][0])))
            continue;
        double calls = std::stod(words[3]);
        if (words.back() == "total")
            count.Calls = calls;
        else
            count.Top.emplace_back(words.back(), calls);
    }
    std::sort(count.Top.begin(), count.Top.end(), [](auto& a, auto& b) { return a.second > b.second; });
    if (count.Top.size() > 6)
        count.Top.resize(6);
    return count;
}

bool PerfCountsHere(const std::string& perf)
{
    std::string command = "'" + perf + "' stat " + PerfEvents[0] + " " + PerfEvents[1] + " " + PerfEvents[2]
                        + " -- /bin/true 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    pclose(pipe);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(",raw_syscalls:sys_enter,") != std::string::npos)
            return std::isdigit(static_cast<unsigned char>(line[0])) && std::stod(line) > 0;
    return false;
}

} // namespace

CounterTool ChooseCounter(const std::string& wanted, const std::string& strace)
{
    CounterTool tool;
    if (wanted == "none")
        return tool;
    std::string perf = FindProgram("perf");
    if ((wanted == "auto" || wanted == "perf") && !perf.empty() && PerfCountsHere(perf))
        return {CounterTool::Perf, perf};
    std::string path = strace.empty() ? std::string() : FindProgram(strace);
    if ((wanted == "auto" || wanted == "strace") && !path.empty())
        return {CounterTool::Strace, path};
    return tool;
}

CallCounter::CallCounter(const CounterTool& tool, const std::vector<pid_t>& pids) : Tool(tool)
{
    static int serial = 0;
    Output = TempRoot + "/calls." + std::to_string(++serial);
    std::vector<std::string> args;
    std::string list;
    if (Tool.Type == CounterTool::Perf) {
        args = {"stat"};
        args.insert(args.end(), PerfEvents.begin(), PerfEvents.end());
        for (pid_t pid : pids)
            list += (list.empty() ? "" : ",") + std::to_string(pid);
        args.insert(args.end(), {"-o", Output, "-p", list});
    } else {
        args = {"-f", "-c", "-q", "-o", Output};
        for (pid_t pid : pids)
            args.insert(args.end(), {"-p", std::to_string(pid)});
    }
    Pid = StartChild(Tool.Path, args);
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Tool.Type == CounterTool::Perf ? !PerfAttached(Pid, pids) : !StraceAttached(Pid, pids)) {
        if (!ChildAlive(Pid) || Clock::now() > end)
            Fail(Tool.Name() + " did not attach to the contestant");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

CallCounter::~CallCounter()
{
    if (Pid > 0)
        StopChildren({Pid}, SIGINT);
}

CallCount CallCounter::Stop()
{
    StopChildren({Pid}, SIGINT); // both detach and write their summary on SIGINT
    Pid = -1;
    std::ifstream in(Output);
    CallCount count = !in ? CallCount {} : Tool.Type == CounterTool::Perf ? ParsePerf(in) : ParseStrace(in);
    unlink(Output.c_str());
    return count;
}

} // namespace bench
