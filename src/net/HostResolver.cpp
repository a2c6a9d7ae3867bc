#include "net/HostResolver.h"

#include "net/ResolveHost.h"
#include "platform/base/EventLog.h"

HostResolver::HostResolver(std::function<void()> answered)
    : Answered(std::move(answered)), Thread([this] { Run(); })
{
}

HostResolver::~HostResolver()
{
    Stop();
}

std::shared_ptr<HostLookup> HostResolver::Ask(const std::string& host)
{
    auto lookup = std::make_shared<HostLookup>(host);
    {
        std::lock_guard<std::mutex> guard(Mutex);
        Queue.push_back(lookup);
    }
    Queued.notify_one();
    return lookup;
}

void HostResolver::Stop()
{
    {
        std::lock_guard<std::mutex> guard(Mutex);
        Stopping = true;
    }
    Queued.notify_one();
    if (Thread.joinable())
        Thread.join();
}

void HostResolver::SetLookupFunction(LookupFunction lookup)
{
    std::lock_guard<std::mutex> guard(Mutex);
    Lookup = std::move(lookup);
}

void HostResolver::Run()
{
    for (;;) {
        std::shared_ptr<HostLookup> next;
        LookupFunction lookup;
        {
            std::unique_lock<std::mutex> guard(Mutex);
            Queued.wait(guard, [this] { return Stopping || !Queue.empty(); });
            if (Stopping)
                return;
            next = std::move(Queue.front());
            Queue.pop_front();
            lookup = Lookup;
        }
        if (next->Abandoned.load(std::memory_order_relaxed))
            continue;
        // The lookup may take as long as the name service wants; nothing waits for it.
        try {
            next->Addresses = lookup ? lookup(next->Host) : LookUpHost(next->Host.c_str());
        } catch (const std::exception& failed) {
            // A lookup that cannot finish (memory) is a name that does not resolve.
            next->Addresses.clear();
            SayEvent(EventLevel::Warning, next->Host, std::string("host lookup failed: ") + failed.what());
        }
        next->Done.store(true, std::memory_order_release);
        if (Answered)
            Answered();
    }
}
