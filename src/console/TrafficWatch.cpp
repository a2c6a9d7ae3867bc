// Implements TrafficWatch, and the console model's side of it: starting a watch on a
// port's traffic, and ending the watches of a port that goes.
#include "console/TrafficWatch.h"

#include <algorithm>

#include "console/ConsoleModel.h"
#include "forwarding/PortObject.h"

TrafficWatch::TrafficWatch(ConsoleModel& model, CPortObject* port, std::shared_ptr<TrafficTap> tap,
                           TrafficTap::Wake wake)
    : Model(&model), Port(port), Lock(model.Manager()->Lock()), Tap(std::move(tap)), Wake(std::move(wake)),
      Name("COM" + std::to_string(port->GetPortNumber()))
{
}

TrafficWatch::~TrafficWatch()
{
    if (Model)
        Model->Unwatch(this);
}

std::vector<TrafficRecord> TrafficWatch::Take(uint64_t& missed)
{
    std::vector<TrafficRecord> records;
    if (!Model) {
        records = std::move(Left);
        Left.clear();
        missed += LeftMissed;
        LeftMissed = 0;
        return records;
    }
    CGuard guard(Lock);
    Tap->Take(records, missed);
    return records;
}

void TrafficWatch::End(bool portAlive, std::string why)
{
    {
        CGuard guard(Lock);
        if (portAlive)
            Port->RemoveTap(Tap.get());
        Tap->Take(Left, LeftMissed);
    }
    Model = nullptr;
    Port = nullptr;
    Lock = nullptr;
    Why = std::move(why);
    if (Wake)
        Wake();
}

// ---------------------------------------------------------------- the model's side

std::unique_ptr<TrafficWatch> ConsoleModel::Watch(CPortObject* port, TrafficTap::Wake wake, ConsoleResult* refusal)
{
    ConsoleResult refused;
    if (!Owns(port))
        refused = ConsoleResult::Refused("Monitor failed!", "No such port.");
    else if (Watches.size() >= MaxWatches)
        refused = ConsoleResult::Refused("Monitor failed!", std::to_string(MaxWatches)
                                                                + " monitors watch this console already.");
    if (!refused) {
        if (refusal)
            *refusal = refused;
        return nullptr;
    }
    auto tap = std::make_shared<TrafficTap>(wake);
    std::unique_ptr<TrafficWatch> watch(new TrafficWatch(*this, port, tap, std::move(wake)));
    port->AddTap(std::move(tap));
    Watches.push_back(watch.get());
    return watch;
}

void ConsoleModel::Unwatch(TrafficWatch* watch)
{
    std::erase(Watches, watch);
    CGuard guard(watch->Lock);
    watch->Port->RemoveTap(watch->Tap.get());
}

void ConsoleModel::EndWatches(CPortObject* port, bool portAlive, const std::string& why)
{
    std::vector<TrafficWatch*> ending;
    for (TrafficWatch* watch : Watches) {
        if (!port || watch->Port == port)
            ending.push_back(watch);
    }
    std::erase_if(Watches, [&](TrafficWatch* watch) {
        return std::find(ending.begin(), ending.end(), watch) != ending.end();
    });
    // A watcher's wake may only schedule its take: none goes while this runs.
    for (TrafficWatch* watch : ending)
        watch->End(portAlive, why);
}
