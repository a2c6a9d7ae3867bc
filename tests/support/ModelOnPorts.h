#pragma once
// A console model on a real port manager, in a private HOME: the setup of the
// model's tests, the window's tests that look past the window and the end-to-end
// tests that compare the console's INI with the model's.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/ConsoleModel.h"
#include "platform/base/Folders.h"
#include "ports/QLNManager.h"
#include "support/PortsHome.h"

namespace qlntest {

// A real manager with the driver package the build puts beside the test.
inline ConsoleModel::ManagerMaker RealManager()
{
    return [] { return std::make_unique<CQLNManager>(nullptr, ExecutableFolder() + "Quillon.inf"); };
}

// Starts a manager on the given port numbers, which the driver makes present.
inline ConsoleModel::ManagerStarter OnPorts(std::vector<int> numbers)
{
    return [numbers](CQLNManager& manager) { return manager.StartOnPorts(numbers); };
}

class ModelOnPorts : public ::testing::Test {
protected:
    // Makes the model on ConfigPath and starts it on `numbers`; `observer` hears
    // from the start on.
    void StartModel(const std::vector<int>& numbers, ConsoleObserver* observer = nullptr)
    {
        Model = std::make_unique<ConsoleModel>(RealManager(), ConfigPath);
        if (observer)
            Model->AddObserver(observer);
        const ConsoleResult started = Model->Start(OnPorts(numbers));
        ASSERT_TRUE(started) << started.Message;
    }

    PortsHome Home;
    const std::string ConfigPath = Home.Root + "/config/quillon/QuillonConsole.ini";
    std::unique_ptr<ConsoleModel> Model; // goes before the home
};

} // namespace qlntest
