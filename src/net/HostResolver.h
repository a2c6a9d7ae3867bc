#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/NetAddress.h"

// One host name being looked up, shared by the link that asked and the resolver
// thread. The thread writes Addresses and then sets Done; the link reads Addresses
// only after it saw Done.
struct HostLookup {
    explicit HostLookup(std::string host) : Host(std::move(host)) {}

    const std::string Host;
    std::vector<NetAddress> Addresses; // empty: the name does not resolve
    std::atomic<bool> Done {false};
    // The link went, or wants another name: a lookup not yet begun is skipped.
    std::atomic<bool> Abandoned {false};
};

// Looks host names up on a thread of its own, so that no lookup ever runs on the
// pump or window thread or with the manager lock held. Owned by the port manager,
// which stops it after the pump and before the ports go.
//
// Lookups are served one at a time, in the order they were asked for: a name server
// that is slow for one name delays the answers for the others, never any bytes.
class HostResolver {
public:
    // What a lookup does: every address of the host, empty when it does not
    // resolve. Runs on the resolver thread without any lock of the console held.
    using LookupFunction = std::function<std::vector<NetAddress>(const std::string& host)>;

    // `answered` runs on the resolver thread after each lookup; it must not block
    // (the port manager wakes its pump).
    explicit HostResolver(std::function<void()> answered);
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;
    // Stops the thread; waits for a lookup that is under way to end.
    ~HostResolver();

    // Queues a lookup and returns at once. Any thread.
    std::shared_ptr<HostLookup> Ask(const std::string& host);
    // Ends the thread after the lookup under way; what is still queued is never
    // answered. Any thread but the resolver's; a second call does nothing.
    void Stop();
    // Replaces the system's lookup (null brings it back). For tests; any thread.
    void SetLookupFunction(LookupFunction lookup);

private:
    void Run();

    std::mutex Mutex;
    std::condition_variable Queued;
    std::deque<std::shared_ptr<HostLookup>> Queue; // guarded by Mutex
    LookupFunction Lookup;                         // guarded by Mutex; null: the system's
    bool Stopping = false;                         // guarded by Mutex
    const std::function<void()> Answered;
    std::thread Thread; // last: starts once everything above exists
};
