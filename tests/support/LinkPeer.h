#pragma once
// A peer on the far side of one link of a console's port, whatever the link's kind.
#include "Console.h"

namespace qlntest {

enum class Kind { TcpServer, TcpClient, Udp };

// Owns its descriptors; the link stays the port's. The peer sits on the loopback
// address of `family`; `host` is what the link is given for it.
class Peer {
public:
    Peer(Console& console, Kind kind, int family = AF_INET, const char* host = nullptr,
         const LinkOptions& options = {})
        : Type(kind)
    {
        if (!host)
            host = family == AF_INET6 ? "::1" : "127.0.0.1";
        switch (kind) {
        case Kind::TcpServer: {
            uint16_t port = FreePort();
            Link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, options).Link;
            Fd = ConnectTo(port, family);
            WaitUntil([&] { return console.ClientCount(Link) == 1; });
            break;
        }
        case Kind::TcpClient: {
            Listener = Listen(0, family);
            Link = console.Port->AddTcpClient(host, LocalPort(Listener), options).Link;
            Fd = AcceptWithin(Listener);
            WaitUntil([&] { return console.State(Link) == LinkState::Connected; });
            break;
        }
        case Kind::Udp: {
            Fd = BindUdp(0, family);
            uint16_t local = FreePort(SOCK_DGRAM);
            Link = console.Port->AddUdp(local, host, LocalPort(Fd), CPortObject::BindFailure::Refuse,
                                        options).Link;
            Remote = LoopbackOf(family, local);
            break;
        }
        }
    }
    bool Send(const std::vector<uint8_t>& data)
    {
        if (Type != Kind::Udp)
            return SendAll(Fd, data);
        // Datagrams of at most one chunk, paced by the console taking them.
        for (size_t off = 0; off < data.size(); off += 4096) {
            size_t n = std::min<size_t>(4096, data.size() - off);
            if (sendto(Fd.Get(), data.data() + off, n, 0, Remote.Get(), Remote.Length) != static_cast<ssize_t>(n))
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    std::vector<uint8_t> Receive(size_t count) { return RecvExactly(Fd, count); }

    Kind Type;
    CNetObject* Link = nullptr;
    UniqueFd Fd;
    UniqueFd Listener;
    SocketAddress Remote;
};

} // namespace qlntest
