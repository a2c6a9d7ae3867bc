// quillonctl: the console's ports and links from a shell. With a console running
// (with its window or without), each command is carried out inside it, through its
// control socket; with none, on the installed ports and the configuration directly,
// through the same console model, while this process holds the console's
// single-instance lock.
//
// Exit codes: 0 done, 1 refused (the console's message and its reason on standard
// error) or the console could not be reached, 2 bad usage.
//
// `events` and `status --follow` need a running console: they show what happens in
// it, asking it again every half second. So do `monitor`, which streams a port's
// traffic from it, and `reload`.
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console/ConfigLocation.h"
#include "console/ConsoleModel.h"
#include "control/CommandRunner.h"
#include "control/ControlCommand.h"
#include "control/ControlSocket.h"
#include "control/InstanceLock.h"
#include "control/InstancePaths.h"
#include "control/StatusChanges.h"
#include "console/TrafficText.h"
#include "platform/base/EventLog.h"
#include "platform/base/Text.h"
#include "platform/base/TickCount.h"

namespace {

// A console may take a while over a port's install; it always answers within this.
constexpr double ReplySeconds = 60.0;
// How long a console that holds the lock but does not listen yet (it is starting)
// or another quillonctl is waited for.
constexpr double BusySeconds = 30.0;
constexpr auto FollowInterval = std::chrono::milliseconds(500);

void Write(FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

int Print(const ControlReply& reply)
{
    Write(stdout, reply.Out);
    Write(stderr, reply.Err);
    return reply.Code;
}

int Fail(const std::string& message)
{
    Write(stderr, "quillonctl: " + message + "\n");
    return 1;
}

// No console runs and this process holds the lock: a console of its own, started
// as the console starts, for this one command. Stop signals wait until it has
// stopped in order (its COM<n> links removed).
int RunWithoutConsole(const ControlCommand& command)
{
    sigset_t stops;
    sigset_t previous;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, signal);
    sigprocmask(SIG_BLOCK, &stops, &previous);
    ControlReply reply;
    {
        ConsoleModel model(ConsoleModel::InstalledManager(nullptr), ConfigLocation::Path());
        if (const ConsoleResult started = model.Start(); !started) {
            reply = RefusedReply(started.Message);
        } else {
            model.LoadSettings();
            reply = RunControlCommand(model, command, false);
        }
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return Print(reply);
}

int RunOnce(const std::vector<std::string>& words, const ControlCommand& command)
{
    const InstancePaths paths = InstancePaths::For();
    const auto busyUntil = std::chrono::steady_clock::now() + std::chrono::duration<double>(BusySeconds);
    for (;;) {
        ControlReply reply;
        const Exchange exchange = ExchangeWithConsole(paths.Control, words, reply, ReplySeconds);
        switch (exchange.Result) {
        case ExchangeResult::Answered:
            return Print(reply);
        case ExchangeResult::Failed:
            return Fail(exchange.Why.Reason());
        case ExchangeResult::NoConsole:
            break;
        }
        InstanceLock lock(paths.Lock);
        switch (lock.TryTake(ControlToolHolder)) {
        case InstanceLock::Result::Taken:
            return RunWithoutConsole(command);
        case InstanceLock::Result::Failed:
            return Fail(lock.Problem().Reason());
        case InstanceLock::Result::Busy:
            break;
        }
        if (std::chrono::steady_clock::now() > busyUntil)
            return Fail("The lock " + paths.Lock + " is held by " + InstanceLock::HolderOf(paths.Lock)
                        + ", which does not answer at " + paths.Control + ".");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// One request to the running console, for the commands that watch it. The reply's
// output, or the exit code in `code` when there is none to go on with: 1 when no
// console runs at the first request, 0 once the console stopped later.
bool AskRunning(const std::vector<std::string>& words, bool first, std::string& out, int& code)
{
    ControlReply reply;
    Exchange exchange = ExchangeWithConsole(InstancePaths::For().Control, words, reply, ReplySeconds);
    // A console that stops drops the connections it was serving: asked again, it is gone.
    if (exchange.Result == ExchangeResult::Failed && !first) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        exchange = ExchangeWithConsole(InstancePaths::For().Control, words, reply, ReplySeconds);
    }
    switch (exchange.Result) {
    case ExchangeResult::Answered:
        if (reply.Code != 0) {
            code = Print(reply);
            return false;
        }
        out = std::move(reply.Out);
        return true;
    case ExchangeResult::NoConsole:
        if (first) {
            code = Fail("No console is running.");
        } else {
            Write(stderr, "quillonctl: The console stopped.\n");
            code = 0;
        }
        return false;
    case ExchangeResult::Failed:
        break;
    }
    code = Fail(exchange.Why.Reason());
    return false;
}

// Prints the status, then each change as it is seen, with its time, until the
// console stops. The facts are taken before the status printed first, so no change
// falls between the two (one may show twice).
int FollowStatus(const ControlCommand& command)
{
    std::vector<std::string> status{"status"};
    if (command.Json)
        status.emplace_back("--json");
    std::string facts;
    std::string shown;
    int code = 0;
    if (!AskRunning({"status", "--follow"}, true, facts, code) || !AskRunning(status, false, shown, code))
        return code;
    Write(stdout, shown);
    for (;;) {
        std::this_thread::sleep_for(FollowInterval);
        std::string now;
        if (!AskRunning({"status", "--follow"}, false, now, code))
            return code;
        Write(stdout, StatusChanges(facts, now, WallClockNow(), command.Json));
        facts = std::move(now);
    }
}

// The events the console kept (those after --after's number), then, with --follow,
// each new one as it comes. The console answers with numbered lines, shown without
// their numbers unless --after asked for them; a gap in the numbers is said on
// standard error (the console keeps only its last EventLog::Kept events). A follower's
// request waits in the console until there is a new event (or a while passes), and
// at its end gets its last ones.
int ShowEvents(const ControlCommand& command)
{
    uint64_t last = command.After;
    for (bool first = true;; first = false) {
        std::string out;
        int code = 0;
        std::vector<std::string> ask {"events", "--after", std::to_string(last)};
        if (!first)
            ask.push_back("--follow");
        if (!AskRunning(ask, first, out, code))
            return code;
        std::string shown;
        ForEachLine(out, [&](std::string_view line) {
            const size_t blank = line.find(' ');
            const uint64_t number = std::strtoull(std::string(line.substr(0, blank)).c_str(), nullptr, 10);
            if (blank == std::string_view::npos || number <= last)
                return;
            if (!first && number > last + 1)
                Write(stderr, "quillonctl: " + std::to_string(number - last - 1) + " events were missed.\n");
            last = number;
            shown.append(command.Numbered ? line : line.substr(blank + 1)).push_back('\n');
        });
        Write(stdout, shown);
        if (!command.Follow)
            return 0;
    }
}

// Prints the port's records as the console streams them, until the console ends the
// stream (the port was removed, the console stops: said on standard error, exit code
// 0) or this process is stopped.
int Monitor(const std::vector<std::string>& words, const ControlCommand& command)
{
    ControlReply reply;
    UniqueFd stream;
    std::string pending;
    const Exchange exchange = OpenConsoleStream(InstancePaths::For().Control, words, reply, ReplySeconds, stream, pending);
    switch (exchange.Result) {
    case ExchangeResult::NoConsole:
        return Fail("No console is running.");
    case ExchangeResult::Failed:
        return Fail(exchange.Why.Reason());
    case ExchangeResult::Answered:
        if (reply.Code != 0 || !stream)
            return Print(reply);
        break;
    }
    char buffer[65536];
    for (;;) {
        std::string shown;
        size_t at = 0;
        ControlProtocol::StreamItem item;
        for (;;) {
            size_t used = 0;
            const ControlProtocol::ReplyState state =
                ControlProtocol::DecodeStreamItem(std::string_view(pending).substr(at), item, used);
            if (state == ControlProtocol::ReplyState::Malformed) {
                Write(stdout, shown);
                return Fail("The console's stream is not understood (another version?).");
            }
            if (state == ControlProtocol::ReplyState::Incomplete)
                break;
            at += used;
            if (item.What == ControlProtocol::StreamItem::Kind::Record) {
                shown += TrafficRecordText(item.Record, command.View);
            } else if (item.What == ControlProtocol::StreamItem::Kind::Missed) {
                shown += MissedRecordsText(WallClockNow(), item.Missed);
            } else {
                Write(stdout, shown);
                Write(stderr, "quillonctl: " + item.Words + "\n");
                return 0;
            }
        }
        pending.erase(0, at);
        Write(stdout, shown);
        pollfd p {stream.Get(), POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR)
            return Fail(std::string("poll: ") + std::strerror(errno));
        const ssize_t n = ::read(stream.Get(), buffer, sizeof buffer);
        if (n > 0) {
            pending.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            Write(stderr, "quillonctl: The console stopped.\n");
            return 0;
        }
    }
}

// Asks the running console to read its configuration file again; prints what changed.
int Reload(const std::vector<std::string>& words)
{
    std::string out;
    int code = 0;
    if (!AskRunning(words, true, out, code))
        return code;
    Write(stdout, out);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> words(argv + 1, argv + argc);
    // Only the commands' own lines on standard error: of the events of a console this
    // process runs for one command, only its errors.
    EventLog::Instance().SetThreshold(EventLevel::Error);
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h" || words[0] == "help")) {
        Write(stdout, ControlUsage());
        return 0;
    }
    if (words.size() == 1 && words[0] == "--version") {
        Write(stdout, std::string("quillonctl ") + QLN_VERSION + "\n");
        return 0;
    }
    ParsedCommand parsed = ParseControlCommand(words);
    if (!parsed.Ok) {
        Write(stderr, "quillonctl: " + parsed.Error + "\n" + ControlUsage());
        return 2;
    }
    ControlCommand& command = parsed.Command;
    // A log file or TLS file named relative to here, not to wherever the console runs;
    // the words are read again with them.
    if ((command.FileWord != 0 && command.Value.front() != '/') || !command.PathWords.empty()) {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return Fail(std::string("getcwd: ") + std::strerror(errno));
        std::vector<size_t> at = command.PathWords;
        if (command.FileWord != 0)
            at.push_back(command.FileWord);
        for (const size_t word : at) {
            if (words[word].front() != '/')
                words[word] = std::string(cwd) + "/" + words[word];
        }
        parsed = ParseControlCommand(words);
    }
    // Nothing is asked through, or made in, a runtime folder that another user could
    // have put files in.
    if (const std::string problem = InstancePaths::For().Problem; !problem.empty())
        return Fail(problem);
    if (command.Action == ControlCommand::Verb::Events)
        return ShowEvents(command);
    if (command.Action == ControlCommand::Verb::Monitor)
        return Monitor(words, command);
    if (command.Action == ControlCommand::Verb::Reload)
        return Reload(words);
    if (command.Follow)
        return FollowStatus(command);
    return RunOnce(words, command);
}
