// Implements Connection: one TCP connection, its stages and what it owes its peer.
#include "links/Connection.h"

#include <algorithm>
#include <deque>
#include <sys/epoll.h>

#include "links/PortSide.h"

namespace {

// Scratch space for bytes between two stages. A stack of N stages uses five rows of
// N buffers, one buffer per stage in each, so that no call clears a buffer another
// is still reading (a stage's output is read while the stages beneath it are passed
// what it gave, through buffers of their own):
//   Scratch(level)        down, between stage `level` and the one beneath (PassDown;
//                         stage 0 writes into the wire itself)
//   Scratch(N + level)    what stage `level` says of its own accord: its opening
//                         (Restart), its news (ServiceStages), its farewell
//                         (CloseAfterFlush), on its way down through PassDown
//   Scratch(2N + level)   up, the data stage `level` gives the stage above (Receive)
//   Scratch(3N + level)   the answers stage `level` sends down while data goes up
//   Scratch(4N + level)   what stage `level` lets go of what it held (ReleaseStages)
// They are kept from call to call so that a busy connection allocates nothing. The
// pump thread and the window thread never run a connection at the same time (the
// manager lock), but thread_local keeps two managers in one test process apart.
// A deque: a buffer handed out stays where it is while deeper levels are added.
Stage::Bytes& Scratch(size_t level)
{
    static thread_local std::deque<Stage::Bytes> buffers;
    if (buffers.size() <= level)
        buffers.resize(level + 1);
    buffers[level].clear();
    return buffers[level];
}

} // namespace

Connection::Connection(std::unique_ptr<CClientSocket> socket, OriginRef from)
    : Sock(std::move(socket)), Sender(std::move(from))
{
}

Connection::~Connection()
{
    // Closed here, while the connection is whole: the close reports OnClose, whose
    // handler may ask the connection who its peer was.
    Sock->Close();
}

const std::string& Connection::Peer() const
{
    static const std::string none;
    return Sender ? Sender->Peer : none;
}

void Connection::Restart(std::vector<std::unique_ptr<Stage>> stages, OriginRef from)
{
    if (from)
        Sender = std::move(from);
    Stages = std::move(stages);
    Wire.clear();
    Sent = 0;
    // Each stage's opening goes down through the stages beneath it.
    for (size_t level = 0; level < Stages.size(); ++level) {
        Bytes& opening = Scratch(Stages.size() + level);
        Stages[level]->Open(opening);
        PassDown(level, opening.data(), opening.size());
    }
}

size_t Connection::Owed() const
{
    size_t held = Wire.size() - Sent;
    for (const auto& stage : Stages)
        held += stage->Holding();
    return held;
}

bool Connection::Accepting() const
{
    return std::all_of(Stages.begin(), Stages.end(), [](const auto& stage) { return stage->Accepting(); });
}

void Connection::PassDown(size_t level, const uint8_t* bytes, size_t count)
{
    while (level > 0 && count > 0) {
        --level;
        Bytes& out = level == 0 ? Wire : Scratch(level);
        Stages[level]->FromAbove(bytes, count, out);
        if (level == 0)
            return;
        bytes = out.data();
        count = out.size();
    }
    if (count > 0)
        Wire.insert(Wire.end(), bytes, bytes + count);
}

void Connection::ServiceStages()
{
    // News that waited for room goes once there is room, after what the wire holds.
    if (!Fits(0))
        return;
    for (size_t level = 0; level < Stages.size(); ++level) {
        Bytes& news = Scratch(Stages.size() + level);
        Stages[level]->Service(news);
        PassDown(level, news.data(), news.size());
    }
}

void Connection::ReleaseStages()
{
    // From the lowest stage up: a stage lets go only what the stages beneath it have
    // passed on, so what one holds never waits behind what is already in the wire.
    for (size_t level = 0; level < Stages.size() && Wire.size() == Sent; ++level) {
        Bytes& released = Scratch(4 * Stages.size() + level);
        Stages[level]->Release(released);
        PassDown(level, released.data(), released.size());
    }
}

int32_t Connection::FlushWire()
{
    int32_t work = 0;
    while (IsConnected()) {
        if (Wire.size() == Sent) {
            Wire.clear();
            Sent = 0;
            ReleaseStages();
            if (Wire.empty())
                return work;
        }
        const size_t pending = Wire.size() - Sent;
        const CClientSocket::SendOutcome went = Sock->Send(Wire.data() + Sent, static_cast<int32_t>(pending));
        const int32_t sent = went.Sent;
        const bool ok = went.Whole();
        Sent += static_cast<size_t>(std::max(sent, 0));
        Moved += static_cast<uint64_t>(std::max(sent, 0));
        if (Sent > WireRoom) {
            Wire.erase(Wire.begin(), Wire.begin() + static_cast<std::ptrdiff_t>(Sent));
            Sent = 0;
        }
        if (!ok) {
            if (!IsConnected())
                return 1;
            WaitsWritable = true;
            return sent > 0 ? 1 : work;
        }
        work = 1;
    }
    return work;
}

int32_t Connection::Offer(const uint8_t* chunk, uint32_t length, uint32_t& taken, bool& refused,
                          uint64_t& bytesSent)
{
    if (Stages.empty()) {
        // A send that moved bytes, or found the connection broken and closed it, is
        // work; one that would block is not: it waits for the socket to have room.
        const CClientSocket::SendOutcome went = Sock->Send(chunk + taken, static_cast<int32_t>(length - taken));
        const int32_t sent = went.Sent;
        const bool ok = went.Whole();
        taken += static_cast<uint32_t>(std::max(sent, 0));
        bytesSent += static_cast<uint64_t>(std::max(sent, 0));
        HeldBack = !ok;
        Moved += static_cast<uint64_t>(std::max(sent, 0));
        if (ok)
            return 1;
        refused = true;
        if (!IsConnected())
            return 1;
        WaitsWritable = true;
        return sent > 0 ? 1 : 0;
    }

    int32_t work = FlushWire();
    ServiceStages();
    // Taken whole or not at all: `taken` counts the application's bytes, never the
    // wire's. The exact size is worked out only when the cheap bound does not fit.
    const uint32_t rest = length - taken;
    auto bound = [this](size_t count, size_t from) {
        for (size_t level = from; level-- > 0;)
            count = Stages[level]->DownBound(count);
        return count;
    };
    const size_t top = Stages.size() - 1;
    if (!Accepting()
        || (!Fits(bound(rest, Stages.size()))
            && !Fits(bound(Stages[top]->DownSize(chunk + taken, rest), top)))) {
        refused = true;
        HeldBack = true;
        return work;
    }
    HeldBack = false;
    PassDown(Stages.size(), chunk + taken, rest);
    bytesSent += rest;
    taken = length;
    // A connection that just refused more waits for room before it is offered again.
    return 1 + (WaitsWritable ? 0 : FlushWire());
}

int32_t Connection::Poll(PortSide& port, bool portFull, uint64_t& received)
{
    if (!IsConnected())
        return Sock->Poll();
    // An unread connection is still watched for its peer leaving, so a peer that
    // resets or closes is noticed and let go.
    if (portFull || Backlogged())
        return Sock->PollHangUp();
    if (!Sock->ReadReported())
        return 0;
    // The port's mark was checked before the read (portFull); a read takes up to
    // ReceiveLimit past it rather than stop at it: reads cut to the room left would
    // be many small ones while the application drains the queue. A read that found
    // the peer gone closed the socket: that is work too.
    return Receive(port, ReceiveLimit, received) > 0 || !IsConnected() ? 1 : 0;
}

int32_t Connection::ServeWire()
{
    if (Stages.empty() || !IsConnected())
        return 0;
    ServiceStages();
    return WaitsWritable ? 0 : FlushWire();
}

size_t Connection::Receive(PortSide& port, size_t limit, uint64_t& received)
{
    static thread_local std::vector<uint8_t> buffer(ReceiveLimit);
    const size_t count = Sock->Receive(buffer.data(), std::min(limit, buffer.size()));
    if (count == 0)
        return 0;
    if (Stages.empty()) {
        port.FromNet(buffer.data(), count, Sender);
        received += count;
        return count;
    }
    // Up through the stages; what a stage answers goes down through those beneath it.
    const uint8_t* bytes = buffer.data();
    size_t length = count;
    for (size_t level = 0; level < Stages.size() && length > 0; ++level) {
        Bytes& up = Scratch(2 * Stages.size() + level);
        Bytes& answers = level == 0 ? Wire : Scratch(3 * Stages.size() + level);
        Stages[level]->FromBelow(bytes, length, up, answers);
        if (level > 0)
            PassDown(level, answers.data(), answers.size());
        bytes = up.data();
        length = up.size();
    }
    // A peer's purge drops what it sent before; what came with the request stays.
    for (auto& stage : Stages) {
        if (stage->TakeDropRequest() && Sender)
            port.DropFromNet(Sender->Source);
    }
    if (length > 0)
        port.FromNet(bytes, length, Sender);
    received += length;
    return count;
}

bool Connection::WantsChunkAgain() const
{
    if (!HeldBack || WaitsWritable || !IsConnected() || !Accepting())
        return false;
    // Room for any chunk, however its stages grow it.
    size_t most = 8192;
    for (size_t level = Stages.size(); level-- > 0;)
        most = Stages[level]->DownBound(most);
    return Fits(most);
}

uint32_t Connection::WaitEvents(bool portFull) const
{
    uint32_t events = WaitsWritable ? static_cast<uint32_t>(EPOLLOUT) : 0u;
    // While the port is full the socket is not read, but a peer that leaves is:
    // unless it already closed its side, whose hang-up would then be reported
    // forever.
    if (!portFull && !Backlogged())
        events |= EPOLLIN;
    else if (!Sock->GetPeerShutdown())
        events |= EPOLLRDHUP;
    // A peer that closed with bytes unread still reports a reset (hang-up and error
    // come unasked).
    return events ? events : EPOLLHUP;
}

void Connection::PortChanged(const PortNews& news)
{
    if (!IsConnected())
        return;
    for (auto& stage : Stages)
        stage->PortChanged(news);
}

std::string Connection::Note() const
{
    std::string note;
    for (const auto& stage : Stages) {
        const std::string said = stage->Note();
        if (!said.empty())
            note += note.empty() ? said : ", " + said;
    }
    return note;
}

const ReportedLine* Connection::FarLine() const
{
    for (const auto& stage : Stages) {
        if (const ReportedLine* line = stage->FarLine())
            return line;
    }
    return nullptr;
}

bool Connection::Opening(int32_t& since) const
{
    return std::any_of(Stages.begin(), Stages.end(), [&since](const auto& stage) { return stage->Opening(since); });
}

Failure Connection::Broken() const
{
    for (const auto& stage : Stages) {
        if (Failure why = stage->Broken())
            return why;
    }
    return {};
}

bool Connection::Ended() const
{
    return std::any_of(Stages.begin(), Stages.end(), [](const auto& stage) { return stage->Ended(); });
}

void Connection::CloseAfterFlush()
{
    for (size_t level = Stages.size(); level-- > 0;) {
        Bytes& farewell = Scratch(Stages.size() + level);
        Stages[level]->Closing(farewell);
        PassDown(level, farewell.data(), farewell.size());
    }
    FlushWire();
    Sock->Close();
}
