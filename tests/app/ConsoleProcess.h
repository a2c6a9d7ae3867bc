#pragma once
// A copy of the real console executable, started as a child process in the test's
// private folders, and watched with deadlines.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/base/UniqueFd.h"
#include "support/Files.h"
#include "support/WaitUntil.h"

extern char** environ;

namespace qlnapp {

// Copies `from` to `to` with its permission bits; true on success.
inline bool CopyFile(const std::string& from, const std::string& to)
{
    const std::string content = qlntest::FileText(from);
    struct stat st {};
    if (content.empty() || stat(from.c_str(), &st) != 0)
        return false;
    UniqueFd fd(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (!fd)
        return false;
    const bool ok = write(fd.Get(), content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return fd.Reset() == 0 && ok;
}

// How a child is started: its arguments, and where its standard error goes.
struct ProcessOptions {
    std::vector<std::string> Args;
    // No display at all (DISPLAY empty, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM)
    // instead of Qt's offscreen platform.
    bool NoDisplay = false;
    std::string ErrorPath; // empty: standard error goes with standard output
};

// One run of the console (or of another program of the build). The child inherits
// this process's environment (the test's HOME and XDG_* folders) on Qt's offscreen
// platform; its output goes to a file for the failure messages. A child still
// running at the end is killed.
class ConsoleProcess {
public:
    ConsoleProcess(const std::string& executable, const std::string& outputPath, const ProcessOptions& options = {})
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("DISPLAY=")
                && !entry.starts_with("WAYLAND_DISPLAY="))
                env.push_back(entry);
        }
        env.push_back(options.NoDisplay ? "DISPLAY=" : "QT_QPA_PLATFORM=offscreen");
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (options.ErrorPath.empty())
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, options.ErrorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> words{executable};
        words.insert(words.end(), options.Args.begin(), options.Args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (posix_spawn(&Pid, executable.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }

    ~ConsoleProcess()
    {
        if (Running()) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
    }

    bool Started() const { return Pid > 0; }

    bool Running()
    {
        if (Pid <= 0 || Ended)
            return false;
        int status = 0;
        const pid_t got = waitpid(Pid, &status, WNOHANG);
        if (got == Pid) {
            Ended = true;
            Status = status;
        }
        return !Ended;
    }

    // Waits for the end; the exit code, 128 + signal for a killed child, or -1 when
    // it still runs at the deadline.
    int WaitForExit(double seconds = 15.0)
    {
        if (!qlntest::WaitUntil([&] { return !Running(); }, seconds))
            return -1;
        if (WIFEXITED(Status))
            return WEXITSTATUS(Status);
        return WIFSIGNALED(Status) ? 128 + WTERMSIG(Status) : -1;
    }

    void Signal(int number)
    {
        if (Running())
            kill(Pid, number);
    }

private:
    pid_t Pid = -1;
    bool Ended = false;
    int Status = 0;
};

// One run of a program to its end: its exit code (as WaitForExit) and its output.
struct ProgramRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

// Runs `executable` with `args` and waits for its end; `scratch` names the files its
// output passes through (removed afterwards).
inline ProgramRun RunProgram(const std::string& executable, const std::vector<std::string>& args,
                             const std::string& scratch, double seconds = 60.0)
{
    const std::string out = scratch + ".out";
    const std::string err = scratch + ".err";
    ProgramRun run;
    {
        ConsoleProcess process(executable, out, {args, false, err});
        run.Code = process.WaitForExit(seconds);
    }
    run.Out = qlntest::FileText(out);
    run.Err = qlntest::FileText(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return run;
}

} // namespace qlnapp
