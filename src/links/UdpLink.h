#pragma once
#include <memory>

#include "links/Connection.h"
#include "links/ListeningLink.h"
#include "links/Origin.h"
#include "net/DatagramSocket.h"
#include "net/HostCache.h"

// A link bound to LocalPort that sends each chunk as one datagram to
// RemoteAddr:RemotePort, and takes datagrams from anyone its allow list takes (a
// datagram from outside it is dropped whole, and counted).
//
// UDP has no flow control to hold a sender back: the link is always read, and beyond
// FromNetCap bytes waiting for the application what it receives is dropped whole and
// counted.
//
// While its destination cannot be reached (its host is being looked up or does not
// resolve, or the system refuses the send) the chunks the port's other links give
// their peers wait in its backlog, a datagram each, and go first once it can send.
// A link without a remote host sends nothing and keeps nothing.
//
// Owns its datagram socket.
class UdpLink : public ListeningLink {
public:
    // 4 MiB is 16 times the TCP mark, about six minutes of a 115200 baud line and
    // several seconds at a pseudo-terminal's full speed, so an application that
    // pauses loses nothing; and it keeps a flood of many ports within a desktop's
    // memory.
    static constexpr size_t FromNetCap = 4 * 1024 * 1024;
    // How long a destination the system refused (a broadcast address without
    // permission, a system short of buffers) waits before it is tried again: nothing
    // reports the end of such a refusal. Milliseconds.
    static constexpr int32_t RefusedRetry = 100;

    UdpLink(PortSide& port, uint16_t localPort, const char* host, uint16_t remotePort, const LinkOptions& options);
    ~UdpLink() override;

    void ChunkDone(const uint8_t* chunk, uint32_t length) override;
    void Close() override { Socket.reset(); }

    std::string Label() const override;
    std::vector<std::string> Peers() const override { return {HostPortText(Config.RemoteAddr, Config.RemotePort)}; }

    // For tests that look at the descriptor.
    CDatagramSocket* Datagrams() { return Socket.get(); }

private:
    // Reads one datagram the wait reported and hands it to the port, or drops it whole
    // (a sender outside the allow list, a port over its cap); 1 when one was read.
    int32_t ReadDatagram();
    Failure Bind(const NetAddress& local) override;
    bool HasListener() const override { return Socket != nullptr; }
    void DropListener() override { Socket.reset(); }
    bool TakeListenerFrom(ListeningLink& old) override;
    int32_t ServeListening(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) override;
    // Sends one datagram to `to`; false when it did not go (WaitsWritable or Refused
    // then say why).
    bool SendDatagram(const uint8_t* data, uint32_t length, const NetAddress& to);
    // Sends the datagrams the backlog holds, in order, while they go.
    int32_t SendBacklog(const NetAddress& to);
    void ArmListening(LinkWaits& waits) override;
    bool Destination(NetAddress& to);

    std::unique_ptr<CDatagramSocket> Socket;
    HostCache Remote; // what is known of RemoteAddr
    // Whether the current chunk went out.
    uint32_t Taken = 0;
    // The send of the chunk would have blocked in the last step: the pump waits for
    // the socket to become writable.
    bool WaitsWritable = false;
    // The system refused the chunk for a reason that no descriptor will report the
    // end of (a broadcast address without permission); the pump then offers it again
    // a little later instead of waiting. A host still being looked up is not such a
    // refusal: the resolver's answer wakes the pump.
    bool Refused = false;
    // The last sender, shared by what it sent while it stays the last.
    OriginRef LastSender;
};
