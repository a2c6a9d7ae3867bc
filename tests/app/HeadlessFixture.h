#pragma once
// The console without a window, started from a copy of the real executables in a
// private folder, with quillonctl beside it: the fixture of the headless tests.
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ConsoleProcess.h"
#include "platform/base/Folders.h"
#include "platform/base/Text.h"
#include "platform/pty/PortDriver.h"
#include "support/TempFolder.h"

namespace qlnapp {

using namespace qlntest;

// Flattens a JSON document into "ports.0.links.1.state" = "\"listening\"" lines,
// with a parser that is not ours.
const char* const FlattenJson = R"(import json, sys
def walk(path, value):
    if isinstance(value, dict):
        for key, item in value.items(): walk(path + [key], item)
    elif isinstance(value, list):
        for index, item in enumerate(value): walk(path + [str(index)], item)
    else:
        print('.'.join(path) + '=' + json.dumps(value))
walk([], json.load(open(sys.argv[1])))
)";

class Headless : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TMPDIR", (Home.Root + "/runtime").c_str(), 1);
        Folder = Home.Root + "/console/";
        ASSERT_TRUE(MakeFolders(Folder));
        for (const char* name : {"QuillonConsole", "quillonctl", "Quillon.inf", "quillon-window.so"})
            ASSERT_TRUE(qlnapp::CopyFile(ExecutableFolder() + name, Folder + name)) << name << " is missing";
    }
    void TearDown() override { PortDriver::Instance().DetachAll(); }

    ProgramRun Ctl(const std::vector<std::string>& args)
    {
        return qlnapp::RunProgram(Folder + "quillonctl", args, Home.Root + "/ctl" + std::to_string(++Runs));
    }
    // Runs a command that must succeed; its standard output.
    std::string Do(const std::vector<std::string>& args)
    {
        const ProgramRun run = Ctl(args);
        std::string command;
        for (const std::string& arg : args)
            command += (command.empty() ? "" : " ") + arg;
        EXPECT_EQ(run.Code, 0) << command << ": " << run.Err << Output();
        return run.Out;
    }
    // `--headless`, or a plain start with no display at all; `more` arguments after.
    std::unique_ptr<ConsoleProcess> Launch(bool plainStart = false, const std::vector<std::string>& more = {})
    {
        qlnapp::ProcessOptions options;
        options.NoDisplay = true;
        if (!plainStart)
            options.Args = {"--headless"};
        options.Args.insert(options.Args.end(), more.begin(), more.end());
        auto process = std::make_unique<ConsoleProcess>(Folder + "QuillonConsole", Home.Root + "/console.out", options);
        EXPECT_TRUE(process->Started());
        return process;
    }
    bool Running() { return Ctl({"status", "--json"}).Out.find("\"running\":true") != std::string::npos; }
    std::string Output() const { return FileText(Home.Root + "/console.out"); }
    std::string Ini() const { return FileText(Folder + "QuillonConsole.ini"); }

    // "COM<n> <path>": the number, and the path in `path`.
    int AddPort(std::string& path)
    {
        const std::string out = Do({"port", "add"});
        const size_t blank = out.find(' ');
        if (!out.starts_with("COM") || blank == std::string::npos)
            return 0;
        path = out.substr(blank + 1, out.size() - blank - 2);
        return std::stoi(out.substr(3, blank - 3));
    }

    // Every field of `status --json`, flattened.
    std::map<std::string, std::string> Status()
    {
        const std::string json = Home.Root + "/status.json";
        WriteFileText(json, Do({"status", "--json"}));
        const ProgramRun run = qlnapp::RunProgram("/usr/bin/env", {"python3", "-c", FlattenJson, json}, json);
        EXPECT_EQ(run.Code, 0) << run.Err;
        std::map<std::string, std::string> fields;
        ForEachLine(run.Out, [&](std::string_view line) {
            const size_t eq = line.find('=');
            fields[std::string(line.substr(0, eq))] = line.substr(eq + 1);
        });
        return fields;
    }

    TempHome Home;
    std::string Folder;
    int Runs = 0;
};

inline std::string Q(const std::string& text)
{
    return "\"" + text + "\"";
}

} // namespace qlnapp
