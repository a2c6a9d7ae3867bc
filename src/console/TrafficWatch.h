#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forwarding/TrafficTap.h"

class CCriticalSection;
class CPortObject;
class ConsoleModel;

// One watcher's view of a port's traffic (ConsoleModel::Watch): the records of the
// chunks the port moves, taken in the watcher's own time. The port never waits for
// it: what the watcher does not take in time is counted as missed.
//
// The watch ends when its port is removed or the console stops; what waited then is
// still handed over, and nothing comes after it. Destroying the watch stops it.
//
// Window thread only, as the model. It may outlive the model.
class TrafficWatch {
public:
    ~TrafficWatch();
    TrafficWatch(const TrafficWatch&) = delete;
    TrafficWatch& operator=(const TrafficWatch&) = delete;

    // What passed since the last take, oldest first; `missed` gets the records missed
    // meanwhile added. Takes the manager lock briefly.
    std::vector<TrafficRecord> Take(uint64_t& missed);
    // Whether nothing more comes, and why ("COM3 was removed.").
    bool Ended() const { return Model == nullptr; }
    const std::string& EndReason() const { return Why; }
    // The port watched: "COM3".
    const std::string& PortName() const { return Name; }

private:
    friend class ConsoleModel;
    TrafficWatch(ConsoleModel& model, CPortObject* port, std::shared_ptr<TrafficTap> tap, TrafficTap::Wake wake);
    // The model ends the watch: the tap leaves the port when `portAlive`, and what
    // waited in it is kept for the last take.
    void End(bool portAlive, std::string why);

    ConsoleModel* Model;            // null once ended
    CPortObject* Port;              // null once ended
    CCriticalSection* Lock;         // the manager's; null once ended
    std::shared_ptr<TrafficTap> Tap; // shared with the port while it watches
    TrafficTap::Wake Wake;
    std::string Name;
    std::string Why;
    std::vector<TrafficRecord> Left; // what waited when the watch ended
    uint64_t LeftMissed = 0;
};
