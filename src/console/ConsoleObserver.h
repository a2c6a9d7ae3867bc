#pragma once

class CNetObject;
class CPortObject;

// Told of every change the console model makes to its ports and links, whoever asked
// for it: the window keeps its tree and options panels by these calls alone.
//
// Called on the thread that made the change (the window thread), in the order of the
// changes; the configuration load calls them with the manager lock held. A removal
// is told after the object is gone: its pointer then only says which one it was and
// must not be followed.
class ConsoleObserver {
public:
    enum class Option { SendToNetDelayTime, ReceiveFromNetDelayTime, Log, AutoReconnect, ReconnectIntervalTime };

    virtual void PortAdded(CPortObject* /*port*/) {}
    virtual void PortRemoved(CPortObject* /*port*/) {}
    virtual void LinkAdded(CPortObject* /*port*/, CNetObject* /*link*/) {}
    virtual void LinkRemoved(CPortObject* /*port*/, CNetObject* /*link*/) {}
    // `fresh` took the place of `old` in the port's list (an edited link); `old` is gone.
    virtual void LinkReplaced(CPortObject* /*port*/, CNetObject* /*old*/, CNetObject* /*fresh*/) {}
    // One option of a port (`link` null) or of one of its links was set and saved.
    virtual void OptionChanged(CPortObject* /*port*/, CNetObject* /*link*/, Option /*option*/) {}
    // The port's links are in another order now (a reload put them in the file's):
    // FindLink tells it.
    virtual void LinksReordered(CPortObject* /*port*/) {}
    // The console's own options were read anew from the configuration file (a reload).
    virtual void ConsoleOptionsReloaded() {}

protected:
    ~ConsoleObserver() = default;
};
