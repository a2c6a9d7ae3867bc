#pragma once
// A peer on the far side of one link of a console's port, whatever the link's kind.
#include "Console.h"

namespace qlntest {

enum class Kind { TcpServer, TcpClient, Udp };

// Owns its descriptors; the link stays the port's.
class Peer {
public:
    Peer(Console& console, Kind kind) : Type(kind)
    {
        switch (kind) {
        case Kind::TcpServer: {
            uint16_t port = FreePort();
            Link = console.Port->AddTcpServer(port);
            Fd = ConnectTo(port);
            WaitUntil([&] { return console.ClientCount(Link) == 1; });
            break;
        }
        case Kind::TcpClient: {
            Listener = Listen();
            Link = console.Port->AddTcpClient("127.0.0.1", LocalPort(Listener));
            Fd = AcceptWithin(Listener);
            WaitUntil([&] { return console.State(Link) == Connected; });
            break;
        }
        case Kind::Udp: {
            Fd = BindUdp();
            uint16_t local = FreePort(SOCK_DGRAM);
            Link = console.Port->AddUdp(local, "127.0.0.1", LocalPort(Fd));
            Remote = Loopback(local);
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
            if (sendto(Fd.Get(), data.data() + off, n, 0, reinterpret_cast<sockaddr*>(&Remote), sizeof Remote) != static_cast<ssize_t>(n))
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
    sockaddr_in Remote {};
};

} // namespace qlntest
