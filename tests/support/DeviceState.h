#pragma once
// A fixture for the device store and the manager's devices: a private HOME whose
// state folder the tests look into, and the driver package at hand.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "Files.h"
#include "platform/base/Folders.h"
#include "PortsHome.h"

class DeviceStateTest : public ::testing::Test {
protected:
    // The numbers claimed in the COM-port database, read from its file.
    std::set<int> Claims() const
    {
        std::set<int> claims;
        std::istringstream in(qlntest::FileText(State + "/comdb"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("COM", 0) == 0)
                claims.insert(std::stoi(line.substr(3)));
        }
        return claims;
    }

    std::set<std::string> Links() const { return qlntest::Names(State + "/dev"); }
    std::set<std::string> Devices() const { return qlntest::Names(State + "/devices"); }

    // The package the build puts beside the test executables, copied to the
    // temporary folder so a test may spoil it.
    std::string CopyPackage() const
    {
        std::string path = Root + "/Quillon.inf";
        qlntest::WriteFileText(path, qlntest::FileText(ExecutableFolder() + "Quillon.inf"));
        return path;
    }

    qlntest::PortsHome Home;
    const std::string Root = Home.Root;
    const std::string State = StateFolder(); // in Root/state
};
