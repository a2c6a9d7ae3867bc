// Implements CPortObject::Pump, the service step of one port: driver to queues,
// queues to links, what the links received to the application.
#include <algorithm>
#include <sys/epoll.h>

#include "forwarding/PortObject.h"
#include "net/ComPortSession.h"
#include "platform/base/EventLog.h"
#include "platform/base/TickCount.h"

namespace {

constexpr uint32_t ChunkSize = 8192;

// One chunk buffer for the pump thread. Every step finishes with it before the
// next begins; thread_local keeps two managers in one test process apart.
thread_local uint8_t TransferBuffer[ChunkSize];

} // namespace

int32_t CPortObject::Pump()
{
    CGuard guard(ManagerLock);
    DeliverToApplication();
    int32_t work = 0;

    // Take bytes from the application, only while nothing waits to go out, and only
    // when the pump's wait found the master readable (or hung up, which the read
    // then tells), or while the bytes of an application that let go are drained: an
    // idle port costs no read.
    if (ToNetQueue.IsEmpty() && (Draining || (Master.Events & (EPOLLIN | EPOLLHUP | EPOLLERR)))) {
        TakeFromApplication();
        work += TakeLineReports();
    }

    // The outbound chunk, once the send delay has passed.
    uint32_t n = 0;
    if (!ToNetQueue.IsEmpty() && TickElapsed(GetTickCount32(), ToNetStamp, SendToNetDelayTime)) {
        n = static_cast<uint32_t>(std::min<size_t>(ToNetQueue.Size(), ChunkSize));
        ToNetQueue.CopyFront(TransferBuffer, n);
    }

    const size_t waitingBefore = FromNetQueue.Size();
    ChunkAnswer answer;
    work += Links.Serve(n ? TransferBuffer : nullptr, n, answer);

    // The chunk leaves, and is logged once, when no peer that is up holds it back
    // and a live peer has it; a link that is down keeps it for later. When no live
    // peer could take it, the port holds it for a link that will try again, so that
    // the only link of a port loses nothing while it is down; and a port whose links
    // will not try (or that has none) lets it go.
    if (n) {
        ChunkDelivered = ChunkDelivered || answer.Delivered;
        if (!answer.Held && (ChunkDelivered || !answer.Waiting)) {
            ToNetQueue.RemoveFront(n);
            ChunkDelivered = false;
            Links.ChunkDone(TransferBuffer, n);
            Recorder.Passed(false, TransferBuffer, n, FromNetOrigins);
        }
    }

    // What the links received in this step reaches the application in this step,
    // not one pass of the pump later.
    if (FromNetQueue.Size() > waitingBefore)
        DeliverToApplication();
    return work;
}

// One read of what the application wrote. A read that finds nobody holds the port
// and nothing is left ends a drain; so does one that finds nothing at all (a new
// application holds the port, and its bytes come as they are reported).
void CPortObject::TakeFromApplication()
{
    const PortDevice::ReadOutcome read = Device->Read(TransferBuffer, ChunkSize);
    switch (read.Result) {
    case PortDevice::ReadResult::Bytes:
        if (read.Count == 0)
            return; // a line report alone
        ToNetStamp = GetTickCount32();
        ToNetQueue.Append(TransferBuffer, read.Count);
        BytesFromApplication += read.Count;
        return;
    case PortDevice::ReadResult::Failed:
        NoteReadFailure(read.Why);
        Draining = false;
        return;
    case PortDevice::ReadResult::Nothing:
    case PortDevice::ReadResult::Gone:
        Draining = false;
        return;
    }
}

// Received bytes go to the application once the receive delay has passed, within
// the device's free space, at most a chunk at a time.
void CPortObject::DeliverToApplication()
{
    if (FromNetQueue.IsEmpty() || !TickElapsed(GetTickCount32(), FromNetStamp, ReceiveFromNetDelayTime))
        return;
    PortStatus status {};
    // While the wait watches the master, an application that let go shows there as a
    // hang-up in this very step: without one, the device need not look again.
    const bool watched = MasterRegistration.Registered() && !(Master.Events & (EPOLLHUP | EPOLLERR));
    if (!Device->QueryStatus(status, !watched) || status.FreeSpace == 0)
        return;
    uint32_t m = static_cast<uint32_t>(std::min<size_t>(FromNetQueue.Size(), status.FreeSpace));
    m = std::min(m, ChunkSize);
    FromNetQueue.CopyFront(TransferBuffer, m);
    if (!Device->Write(TransferBuffer, m))
        return;
    // Told before the bytes leave the queue: their senders are named at its front.
    Recorder.Passed(true, TransferBuffer, m, FromNetOrigins);
    TakeFromNet(m);
    BytesToApplication += m;
}

void CPortObject::NoteReadFailure(const Failure& why)
{
    const std::string text = why.Reason();
    if (text == SaidReadFailure)
        return;
    SaidReadFailure = text;
    SayEvent(EventLevel::Warning, Name(), "cannot read what the application wrote: " + text);
}

void CPortObject::FromNet(const uint8_t* data, size_t count, const OriginRef& from)
{
    if (count == 0)
        return;
    if (FromNetQueue.IsEmpty())
        FromNetStamp = GetTickCount32();
    FromNetQueue.Append(data, count);
    if (!FromNetOrigins.empty() && FromNetOrigins.back().From == from)
        FromNetOrigins.back().Length += count;
    else
        FromNetOrigins.push_back({from, count});
}

void CPortObject::TakeFromNet(size_t count)
{
    FromNetQueue.RemoveFront(count);
    while (count > 0 && !FromNetOrigins.empty()) {
        SenderStretch& front = FromNetOrigins.front();
        const size_t taken = std::min(count, front.Length);
        front.Length -= taken;
        count -= taken;
        if (front.Length == 0)
            FromNetOrigins.pop_front();
    }
}

// Rare (a remote client's purge): the queue is rebuilt without the peer's stretches.
void CPortObject::DropFromNet(uint64_t source)
{
    QLN_ASSERT_HELD(ManagerLock);
    auto from = [source](const SenderStretch& stretch) { return stretch.From && stretch.From->Source == source; };
    if (std::none_of(FromNetOrigins.begin(), FromNetOrigins.end(), from))
        return;
    std::vector<uint8_t> kept(FromNetQueue.Size());
    FromNetQueue.CopyFront(kept.data(), kept.size());
    ByteQueue rebuilt;
    std::deque<SenderStretch> origins;
    size_t at = 0;
    for (const SenderStretch& stretch : FromNetOrigins) {
        if (!from(stretch)) {
            rebuilt.Append(kept.data() + at, stretch.Length);
            origins.push_back(stretch);
        }
        at += stretch.Length;
    }
    FromNetQueue = std::move(rebuilt);
    FromNetOrigins = std::move(origins);
}

// While the application is far behind, TCP connections are left unread: their
// peers wait under TCP's own flow control instead of the console queueing without
// bound (a port nobody holds, or an application that stopped reading, would
// otherwise take memory for as long as the peers send). Datagrams have no such
// flow control: UDP links are always read, and beyond their cap what they deliver
// is dropped. The mark is checked before every read, not once per pass, so a pass
// over many clients cannot read far past it.
bool CPortObject::FromNetFull() const
{
    return FromNetQueue.Size() >= FromNetHighWater;
}

void CPortObject::UpdateLineReports()
{
    QLN_ASSERT_HELD(ManagerLock);
    const bool want = Links.WantLineReports();
    if (Device->Handle() != INVALID_DRIVER_HANDLE && want != LineReportsOn)
        LineReportsOn = Device->SetLineReports(want) ? want : LineReportsOn;
}

int32_t CPortObject::TakeLineReports()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!LineReportsOn)
        return 0;
    const LineEvent events = Device->TakeLineEvents();
    if (events == LineEvent::None)
        return 0;
    PortNews news;
    news.SettingsChanged = Has(events, LineEvent::SettingsChanged);
    if (Has(events, LineEvent::FlushedInput))
        news.Purged |= ComPortSession::PurgeReceive;
    if (Has(events, LineEvent::FlushedOutput))
        news.Purged |= ComPortSession::PurgeTransmit;
    // Handed to the sessions when their links serve their wire, in order after what
    // the wire already holds.
    Links.Tell(news);
    return 1;
}

void CPortObject::NoteApplication(bool held)
{
    if (held == ApplicationHeld)
        return;
    ApplicationHeld = held;
    // What the application wrote before it let go still goes out.
    Draining = !held;
    if (held)
        SaidReadFailure.clear();
    SayEvent(EventLevel::Info, Name(),
             held ? "an application opened the port" : "the application closed the port");
    PortNews news;
    news.ApplicationPresent = held;
    Links.Tell(news);
}
