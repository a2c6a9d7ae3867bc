#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "links/Origin.h"
#include "links/Stage.h"
#include "links/StallWatch.h"
#include "net/ClientSocket.h"

class PortSide;

// One TCP connection of a link (a TCP client link's, or a client a TCP server link
// accepted): its socket, the stack of stages between the socket and the port, the
// bytes it owes its peer, and how much of the port's current outbound chunk it has
// taken. The data path asks the connection, never its stages.
//
// A connection without stages carries raw bytes: a chunk goes straight to the
// socket, with nothing buffered here. With stages, a chunk goes down through them
// whole into the wire buffer; the buffer is bounded: a chunk goes in only while
// there is room for all of it (WireRoom), and the connection is not read while what
// it owes is over WireFull, so that neither the application nor a peer can make it
// grow for as long as the peer does not read.
//
// Owns its socket and its stages; guarded by the manager lock.
class Connection {
public:
    using Bytes = Stage::Bytes;

    static constexpr size_t WireRoom = 32 * 1024; // more than two chunks escaped
    static constexpr size_t WireFull = 64 * 1024;
    // The most one receive takes from a socket; what is left stays in the system and
    // is reported again, so a stalled port holds no more than the socket buffers.
    static constexpr uint32_t ReceiveLimit = 64 * 1024;

    // `from` names the connection's peer to the port (it may be set later, Restart).
    explicit Connection(std::unique_ptr<CClientSocket> socket, OriginRef from = {});
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    CClientSocket& Socket() { return *Sock; }
    const CClientSocket& Socket() const { return *Sock; }
    bool IsConnected() const { return Sock->GetState() == LinkState::Connected; }
    // The peer as the window and quillonctl show it ("192.0.2.7:50312").
    const std::string& Peer() const;
    const OriginRef& From() const { return Sender; }

    // A new stack (lowest stage first) for a connection that just came up, from the
    // peer `from` (none: as before); what the stages open with goes into the wire. The
    // old stack and what it owed go.
    void Restart(std::vector<std::unique_ptr<Stage>> stages, OriginRef from = {});

    // Offers what it has not taken of the chunk, from `taken` on (which it moves on
    // by what it takes). Work: bytes moved, or a broken connection found. `refused`
    // is set when it holds part of the chunk back; then it waits for the socket to
    // become writable (WaitsWritable) when that is what it lacks.
    int32_t Offer(const uint8_t* chunk, uint32_t length, uint32_t& taken, bool& refused, uint64_t& bytesSent);
    // The same for the port's current chunk, whose progress is Taken.
    int32_t Offer(const uint8_t* chunk, uint32_t length, bool& refused, uint64_t& bytesSent)
    {
        return Offer(chunk, length, Taken, refused, bytesSent);
    }
    // Serves the socket from what the wait reported, once per step: finishes a
    // connection attempt (OnConnect), or reads and hands the data, out of the stages,
    // to `port`, adding the data bytes to `received`. A read takes what the socket
    // holds, at most ReceiveLimit. One whose port is full (`portFull`: at its mark) or
    // that owes its peer too much is not read, only watched for its peer leaving.
    // Work: 1 when something happened.
    int32_t Poll(PortSide& port, bool portFull, uint64_t& received);
    // After a poll: what the stages owe the peer goes out.
    int32_t ServeWire();

    // The epoll events the next step would act on.
    uint32_t WaitEvents(bool portFull) const;
    // It held the chunk back, and has room for one now (a peer that resumed the flow,
    // a stage that let go what it held) with no descriptor to report it: the port
    // offers the chunk again at once.
    bool WantsChunkAgain() const;
    // A new chunk starts: nothing of it is taken yet.
    void ChunkDone()
    {
        Taken = 0;
        HeldBack = false;
        SkipsChunk = false;
    }

    void PortChanged(const PortNews& news);
    const ReportedLine* FarLine() const;
    // What the stages say of the connection for the figures; empty: nothing.
    std::string Note() const;

    // A stage's handshake under way, and the tick it began.
    bool Opening(int32_t& since) const;
    // Why a stage gave up on the connection; empty while every stage serves.
    Failure Broken() const;
    // A stage's peer ended the session in order.
    bool Ended() const;
    // Closes the socket after one last try to send what the stages owe and their
    // farewells (a TLS alert that tells the peer why, a close_notify).
    void CloseAfterFlush();
    // The connection's stage of type T, or null: for the figures of a stage.
    template <class T>
    const T* StageOf() const
    {
        for (const auto& stage : Stages) {
            if (const auto* found = dynamic_cast<const T*>(stage.get()))
                return found;
        }
        return nullptr;
    }

    // How much of the port's current chunk the connection has taken; an edited link
    // that takes over its old link's peer takes this over with it.
    uint32_t Taken = 0;
    bool WaitsWritable = false;
    bool HeldBack = false; // it refused part of the current chunk
    // It came while the current chunk was under way: it starts with the next one,
    // so a peer never gets the middle of what was sent before it came.
    bool SkipsChunk = false;
    // Bytes the socket took, all told (wire bytes with stages); and the rule that
    // closes a connection that takes nothing while data waits for it.
    uint64_t Moved = 0;
    StallWatch Stall;
    // What the event log was told of the connection: that it is up (a TLS client
    // once its handshake is done), and that it ended, with why.
    bool SaidUp = false;
    bool SaidEnd = false;

private:
    // The stages from `level` down (level == Stages.size(): from the top) carry
    // `count` bytes into the wire.
    void PassDown(size_t level, const uint8_t* bytes, size_t count);
    // Reads at most `limit` bytes and passes them up through the stages to `port`,
    // adding the data bytes handed on to `received`; answers the bytes read.
    size_t Receive(PortSide& port, size_t limit, uint64_t& received);
    size_t Owed() const;
    bool Fits(size_t count) const { return Owed() + count <= WireRoom; }
    bool Backlogged() const { return Owed() >= WireFull; }
    bool Accepting() const;
    void ServiceStages();
    void ReleaseStages();
    int32_t FlushWire();

    std::unique_ptr<CClientSocket> Sock;
    OriginRef Sender;
    std::vector<std::unique_ptr<Stage>> Stages; // lowest first
    Bytes Wire;      // owed to the peer, from Sent on
    size_t Sent = 0;
};
