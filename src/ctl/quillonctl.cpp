// quillonctl: the console's ports and links from a shell. With a console running
// (with its window or without), each command is carried out inside it, through its
// control socket; with none, on the installed ports and the configuration directly,
// through the same console model, while this process holds the console's
// single-instance lock.
//
// Exit codes: 0 done, 1 refused (the console's message and its reason on standard
// error) or the console could not be reached, 2 bad usage.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
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
        std::string why;
        switch (ExchangeWithConsole(paths.Control, words, reply, why, ReplySeconds)) {
        case ExchangeResult::Answered:
            return Print(reply);
        case ExchangeResult::Failed:
            return Fail(why);
        case ExchangeResult::NoConsole:
            break;
        }
        InstanceLock lock(paths.Lock);
        switch (lock.TryTake(ControlToolHolder)) {
        case InstanceLock::Result::Taken:
            return RunWithoutConsole(command);
        case InstanceLock::Result::Failed:
            return Fail("Cannot make the lock " + paths.Lock + ": " + std::strerror(errno));
        case InstanceLock::Result::Busy:
            break;
        }
        if (std::chrono::steady_clock::now() > busyUntil)
            return Fail("The lock " + paths.Lock + " is held by " + InstanceLock::HolderOf(paths.Lock)
                        + ", which does not answer at " + paths.Control + ".");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Prints the status, then again whenever it changes, until the console stops.
int Follow(const std::vector<std::string>& words, const ControlCommand& command)
{
    const InstancePaths paths = InstancePaths::For();
    std::string last;
    for (bool first = true;; first = false) {
        ControlReply reply;
        std::string why;
        switch (ExchangeWithConsole(paths.Control, words, reply, why, ReplySeconds)) {
        case ExchangeResult::Answered:
            if (reply.Code != 0)
                return Print(reply);
            if (reply.Out != last) {
                Write(stdout, command.Json ? reply.Out : reply.Out + "\n");
                last = reply.Out;
            }
            break;
        case ExchangeResult::NoConsole:
            if (first)
                return Fail("No console is running.");
            Write(stderr, "quillonctl: The console stopped.\n");
            return 0;
        case ExchangeResult::Failed:
            return Fail(why);
        }
        std::this_thread::sleep_for(FollowInterval);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h" || words[0] == "help")) {
        Write(stdout, ControlUsage());
        return 0;
    }
    ParsedCommand parsed = ParseControlCommand(words);
    if (!parsed.Ok) {
        Write(stderr, "quillonctl: " + parsed.Error + "\n" + ControlUsage());
        return 2;
    }
    ControlCommand& command = parsed.Command;
    // A log file named relative to here, not to wherever the console runs.
    if (command.FileWord != 0 && command.Value.front() != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return Fail(std::string("getcwd: ") + std::strerror(errno));
        command.Value = std::string(cwd) + "/" + command.Value;
        words[command.FileWord] = command.Value;
    }
    // TLS files too, the same way; the words are read again with them.
    if (!command.PathWords.empty()) {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return Fail(std::string("getcwd: ") + std::strerror(errno));
        for (const size_t at : command.PathWords) {
            if (words[at].front() != '/')
                words[at] = std::string(cwd) + "/" + words[at];
        }
        parsed = ParseControlCommand(words);
    }
    if (command.Follow) {
        std::vector<std::string> status{"status"};
        if (command.Json)
            status.emplace_back("--json");
        return Follow(status, command);
    }
    return RunOnce(words, command);
}
