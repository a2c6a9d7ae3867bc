#pragma once
// A temporary HOME and XDG_STATE_HOME for one test, removed afterwards, and the
// helpers the device tests share. Header only: the port tests include it too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/base/Folders.h"
#include "platform/pty/PortDriver.h"

class TempStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qln-devices-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Root = pattern;
        Save("HOME");
        Save("XDG_STATE_HOME");
        setenv("HOME", Root.c_str(), 1);
        setenv("XDG_STATE_HOME", (Root + "/state").c_str(), 1);
        State = StateFolder();
    }

    void TearDown() override
    {
        PortDriver::Instance().DetachAll();
        for (const auto& [name, value] : Saved) {
            if (value.first)
                setenv(name.c_str(), value.second.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::string command = "rm -rf '" + Root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    static void WriteText(const std::string& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    static std::string ReadText(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static bool Exists(const std::string& path)
    {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0;
    }

    // Names in a folder, without "." and "..".
    static std::set<std::string> Names(const std::string& folder)
    {
        std::set<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (dirent* e = readdir(dir)) {
                std::string n = e->d_name;
                if (n != "." && n != "..")
                    names.insert(n);
            }
            closedir(dir);
        }
        return names;
    }

    // The numbers claimed in the COM-port database, read from its file.
    std::set<int> Claims() const
    {
        std::set<int> claims;
        std::istringstream in(ReadText(State + "/comdb"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("COM", 0) == 0)
                claims.insert(std::stoi(line.substr(3)));
        }
        return claims;
    }

    std::set<std::string> Links() const { return Names(State + "/dev"); }
    std::set<std::string> Devices() const { return Names(State + "/devices"); }

    // The package the build puts beside the test executables, copied to the
    // temporary folder so a test may spoil it.
    std::string CopyPackage() const
    {
        std::string path = Root + "/Quillon.inf";
        WriteText(path, ReadText(ExecutableFolder() + "Quillon.inf"));
        return path;
    }

    std::string Root;
    std::string State;

private:
    void Save(const char* name)
    {
        const char* v = getenv(name);
        Saved[name] = {v != nullptr, v ? v : ""};
    }
    std::map<std::string, std::pair<bool, std::string>> Saved;
};
