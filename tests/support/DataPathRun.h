#pragma once
// A randomised run of the whole data path against a small model of who must get what.
//
// Application sessions of random sizes around the chunk size close at once or after a
// pause; server clients come and go between and during sessions; the client link's
// peer goes away and comes back; a UDP peer takes everything; every peer sends bytes
// to the application. At every quiet moment the model checks that each peer present
// for a whole session got exactly that session's bytes, once and in order; that a
// client that came during a session got its end, and that the client link's peer,
// back after an outage, got the newest of what it missed; that nothing is left
// queued. The application checks, byte by byte, that each peer's bytes reach it in
// order and once: peer k sends (k << 5) | (n mod 32) as its n-th byte.
//
// One thread: the run reads its peers and the application between its own steps, so
// the model needs no lock. The seed is printed, and QLN_DATAPATH_SEED replays it;
// QLN_DATAPATH_SECONDS makes a run longer (a soak).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "Application.h"
#include "Loopback.h"
#include "WaitUntil.h"

namespace qlntest {

// The ports of the links the console under test must have on the port it names: a TCP
// server link on Server, a TCP client link to 127.0.0.1:ClientPeer that reconnects
// within about 100 ms, and a UDP link from UdpLocal to 127.0.0.1:UdpPeer.
struct DataPathPorts {
    uint16_t Server = FreePort();
    uint16_t ClientPeer = FreePort();
    uint16_t UdpLocal = FreePort(SOCK_DGRAM);
    uint16_t UdpPeer = 0; // the run's UDP socket, bound before the links are made
};

// What the run asks of the console under test.
class DataPathHost {
public:
    virtual ~DataPathHost() = default;
    virtual std::string PortPath() = 0;
    // Bytes the port holds for the network.
    virtual size_t PortQueued() = 0;
    // The client link's backlog, and the bytes it dropped from it so far.
    virtual size_t ClientBacklog() = 0;
    virtual uint64_t ClientDropped() = 0;
    virtual size_t ServerClients() = 0;
};

class DataPathRun {
public:
    // The seed from QLN_DATAPATH_SEED, or a new one; the time from QLN_DATAPATH_SECONDS,
    // or `seconds`.
    explicit DataPathRun(double seconds)
    {
        const char* seed = std::getenv("QLN_DATAPATH_SEED");
        Seed = seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : std::random_device {}();
        const char* time = std::getenv("QLN_DATAPATH_SECONDS");
        Seconds = time ? std::atof(time) : seconds;
        Random.seed(Seed);
        Udp.Id = 0;
        Udp.Datagram = true;
        Udp.Fd = BindUdp();
        const int big = 16 << 20;
        if (setsockopt(Udp.Fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
            setsockopt(Udp.Fd.Get(), SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        Ports.UdpPeer = LocalPort(Udp.Fd);
        Client.Id = 1;
    }

    DataPathPorts Ports;
    uint32_t Seed = 0;
    double Seconds = 0;

    // Runs sessions until the time is up, then reads what the peers sent. Returns the
    // number of sessions; a failure is a test failure that names the seed.
    int Run(DataPathHost& host)
    {
        Host = &host;
        std::cout << "data path run: seed " << Seed << " (QLN_DATAPATH_SEED), " << Seconds << " s" << std::endl;
        SCOPED_TRACE("QLN_DATAPATH_SEED=" + std::to_string(Seed));
        ClientUp(); // the client link's peer starts present
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
        int sessions = 0;
        while (!Failed && std::chrono::steady_clock::now() < end) {
            BetweenSessions();
            if (!Failed)
                Session();
            ++sessions;
        }
        if (!Failed)
            FinalRead();
        std::cout << "data path run: " << sessions << " sessions, " << SessionBytes << " bytes out, client link dropped "
                  << Host->ClientDropped() << std::endl;
        return sessions;
    }

private:
    struct Peer {
        int Id = -1;
        UniqueFd Fd;
        bool Datagram = false;
        bool Closing = false;      // it shut its side; it goes once the console closes
        std::vector<uint8_t> Got;  // what it received, all told
        size_t Mark = 0;           // Got's size at the session's start
        bool Whole = false;        // present for the whole session
    };

    void Fail(const std::string& what)
    {
        if (Failed)
            return;
        Failed = true;
        std::ostringstream state;
        state << what << " (seed " << Seed << "; port queue " << Host->PortQueued() << ", client backlog "
              << Host->ClientBacklog() << ", server clients " << Host->ServerClients() << "/" << Clients.size()
              << ", client peer " << (Client.Fd ? "up" : "down") << ")";
        ADD_FAILURE() << state.str();
    }

    size_t Pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(Random); }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

    // Reads every peer and the application, without waiting.
    void Pump()
    {
        uint8_t buf[65536];
        for (Peer* peer : AllPeers()) {
            if (!peer->Fd)
                continue;
            ssize_t n;
            while ((n = recv(peer->Fd.Get(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
                peer->Got.insert(peer->Got.end(), buf, buf + n);
            if (n == 0 && !peer->Datagram) {
                if (!peer->Closing)
                    Fail("the console closed peer " + std::to_string(peer->Id) + "'s connection");
                peer->Fd.Reset();
            }
        }
        if (Application && Application->Ok()) {
            for (uint8_t byte : Application->ReadAvailable())
                Heard(byte);
        }
    }

    void Heard(uint8_t byte)
    {
        const int id = byte >> 5;
        if ((byte & 31) != (Seen[id] & 31))
            Fail("peer " + std::to_string(id) + "'s byte " + std::to_string(Seen[id]) + " reached the application as "
                 + std::to_string(byte & 31) + " (lost, doubled or out of order)");
        ++Seen[id];
    }

    std::vector<Peer*> AllPeers()
    {
        std::vector<Peer*> all {&Udp, &Client};
        for (Peer& peer : Clients)
            all.push_back(&peer);
        return all;
    }

    // Waits for `condition`, reading all the while; a failure when it does not come.
    bool Await(const std::function<bool()>& condition, const std::string& what, double seconds = 30)
    {
        if (WaitUntil([&] {
                Pump();
                return Failed || condition();
            }, seconds))
            return !Failed;
        Fail("timed out waiting for " + what);
        return false;
    }

    // A live peer sends a few bytes of its sequence to the application.
    void Talk()
    {
        std::vector<Peer*> open;
        for (Peer* peer : AllPeers()) {
            if (peer->Fd && !peer->Closing)
                open.push_back(peer);
        }
        Peer& peer = *open[Pick(open.size())];
        std::vector<uint8_t> bytes(1 + Pick(peer.Datagram ? 64 : 300));
        for (uint8_t& byte : bytes)
            byte = static_cast<uint8_t>((peer.Id << 5) | (Sent[peer.Id]++ & 31));
        if (peer.Datagram) {
            const sockaddr_in to = Loopback(Ports.UdpLocal);
            if (sendto(peer.Fd.Get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
                != static_cast<ssize_t>(bytes.size()))
                Fail("the UDP peer could not send");
        } else if (!SendAll(peer.Fd, bytes)) {
            Fail("peer " + std::to_string(peer.Id) + " could not send");
        }
    }

    // A server client comes; `between` sessions it is waited for, so that it is there
    // for the whole next one.
    void Join(bool between)
    {
        std::vector<bool> used(8, false);
        for (const Peer& peer : Clients)
            used[static_cast<size_t>(peer.Id)] = true;
        int id = 2;
        while (id < 8 && used[static_cast<size_t>(id)])
            ++id;
        if (id == 8)
            return;
        Peer& peer = Clients.emplace_back();
        peer.Id = id;
        peer.Fd = ConnectTo(Ports.Server);
        if (!peer.Fd)
            Fail("cannot connect to the server link");
        if (between)
            Await([&] { return Host->ServerClients() == Clients.size(); }, "the server link to take a client");
    }

    // A server client leaves as a program does that ends its session: it stops sending
    // and goes once the console let go of it (so everything it sent was read).
    void Leave(Peer& peer)
    {
        peer.Closing = true;
        peer.Whole = false;
        shutdown(peer.Fd.Get(), SHUT_WR);
    }

    void ClientUp()
    {
        ClientListener = Listen(Ports.ClientPeer);
        Client.Fd = AcceptWithin(ClientListener, 30);
        Client.Closing = false;
        if (!Client.Fd) {
            Fail("the client link did not connect");
            return;
        }
        // What it missed while down comes first: the newest of it, whatever the bound
        // dropped.
        const uint64_t dropped = Host->ClientDropped() - DroppedAtDown;
        if (dropped > Missed.size()) {
            Fail("the client link dropped more than it missed");
            return;
        }
        const size_t due = Missed.size() - static_cast<size_t>(dropped);
        Client.Mark = Client.Got.size();
        if (!Await([&] { return Client.Got.size() - Client.Mark >= due && Host->ClientBacklog() == 0; },
                   "the client link's backlog"))
            return;
        const std::vector<uint8_t> got(Client.Got.begin() + static_cast<long>(Client.Mark), Client.Got.end());
        if (!std::equal(got.begin(), got.end(), Missed.end() - static_cast<long>(got.size())) || got.size() != due)
            Fail("the client link's peer got " + std::to_string(got.size()) + " bytes after its outage, not the newest "
                 + std::to_string(due) + " of the " + std::to_string(Missed.size()) + " it missed");
        Missed.clear();
        Client.Mark = Client.Got.size();
    }

    void ClientDown()
    {
        // The listener goes first, so the link's next attempt is refused.
        ClientListener.Reset();
        Client.Closing = true;
        shutdown(Client.Fd.Get(), SHUT_WR);
        Await([&] { return !Client.Fd; }, "the client link to let go of its peer");
        DroppedAtDown = Host->ClientDropped();
    }

    void BetweenSessions()
    {
        for (int events = static_cast<int>(Pick(4)); events > 0 && !Failed; --events) {
            switch (Pick(5)) {
            case 0:
                Join(true);
                break;
            case 1:
                if (!Clients.empty()) {
                    Peer& peer = Clients[Pick(Clients.size())];
                    Leave(peer);
                    Await([&] { return !peer.Fd && Host->ServerClients() == Clients.size() - 1; },
                          "a server client to leave");
                    Clients.erase(Clients.begin() + (&peer - Clients.data()));
                }
                break;
            case 2:
                if (Client.Fd)
                    ClientDown();
                else
                    ClientUp();
                break;
            default:
                Talk();
                break;
            }
        }
    }

    std::vector<uint8_t> SessionData()
    {
        static const size_t Sizes[] = {1, 8191, 8192, 8193, 300000};
        const size_t size = Chance(60) ? Sizes[Pick(std::size(Sizes))] : 1 + Pick(Chance(50) ? 20000 : 120000);
        std::vector<uint8_t> data(size);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(Random());
        return data;
    }

    void Session()
    {
        const std::vector<uint8_t> data = SessionData();
        SessionBytes += data.size();
        Application = std::make_unique<App>(Host->PortPath());
        if (!Application->Ok()) {
            Fail("cannot open the port");
            return;
        }
        for (Peer* peer : AllPeers()) {
            peer->Whole = peer->Fd && !peer->Closing;
            peer->Mark = peer->Got.size();
        }
        const bool clientWasUp = Client.Whole;
        size_t written = 0;
        Await([&] {
            if (Chance(3))
                Talk();
            if (Chance(1) && Clients.size() < 6)
                Join(false);
            if (Chance(1) && !Clients.empty() && !Clients.front().Closing)
                Leave(Clients.front());
            const size_t piece = Chance(50) ? data.size() - written : 1 + Pick(data.size() - written);
            const ssize_t n = write(Application->Fd.Get(), data.data() + written, piece);
            written += n > 0 ? static_cast<size_t>(n) : 0;
            return written == data.size();
        }, "the application's write", 60);
        if (Chance(30)) {
            const auto pause = std::chrono::milliseconds(Pick(100));
            const auto until = std::chrono::steady_clock::now() + pause;
            Await([&] { return std::chrono::steady_clock::now() >= until; }, "a pause");
        }
        Application.reset(); // closed at once: what it wrote still goes
        if (!clientWasUp)
            Missed.insert(Missed.end(), data.begin(), data.end());
        Quiet(data);
    }

    // The session is over: everything has arrived where it must, and nothing waits.
    void Quiet(const std::vector<uint8_t>& data)
    {
        auto arrived = [&] {
            for (Peer* peer : AllPeers()) {
                if (peer->Whole && peer->Got.size() - peer->Mark < data.size())
                    return false;
                if (peer->Closing && peer->Fd)
                    return false;
            }
            return Host->PortQueued() == 0 && (!Client.Fd || Host->ClientBacklog() == 0);
        };
        if (!Await(arrived, "the session's " + std::to_string(data.size()) + " bytes to arrive")) {
            for (Peer* peer : AllPeers())
                ADD_FAILURE() << "peer " << peer->Id << (peer->Whole ? " (whole)" : "") << (peer->Closing ? " closing" : "")
                              << (peer->Fd ? "" : " gone") << ": " << peer->Got.size() - peer->Mark << " bytes";
            return;
        }
        Clients.erase(std::remove_if(Clients.begin(), Clients.end(), [](const Peer& peer) { return !peer.Fd; }),
                      Clients.end());
        if (!Await([&] { return Host->ServerClients() == Clients.size(); }, "the server link's clients"))
            return;
        for (Peer* peer : AllPeers()) {
            const std::vector<uint8_t> got(peer->Got.begin() + static_cast<long>(peer->Mark), peer->Got.end());
            if (peer->Whole && got != data)
                Fail("peer " + std::to_string(peer->Id) + ", there for the whole session of " + std::to_string(data.size())
                     + " bytes, got " + std::to_string(got.size()) + " bytes that are not the session's");
            // One that came during the session gets its end, from a chunk on.
            else if (!peer->Whole && peer->Fd && peer != &Client
                     && (got.size() > data.size() || !std::equal(got.begin(), got.end(), data.end() - static_cast<long>(got.size()))))
                Fail("peer " + std::to_string(peer->Id) + ", come during the session, got bytes that are not its end");
            peer->Mark = peer->Got.size();
        }
    }

    // Everything each peer sent reaches the application, in order and once.
    void FinalRead()
    {
        Application = std::make_unique<App>(Host->PortPath());
        Await([&] {
            for (int id = 0; id < 8; ++id) {
                if (Seen[id] < Sent[id])
                    return false;
            }
            return true;
        }, "the peers' bytes to reach the application");
        for (int id = 0; id < 8; ++id) {
            if (Seen[id] != Sent[id])
                Fail("peer " + std::to_string(id) + " sent " + std::to_string(Sent[id]) + " bytes, the application got "
                     + std::to_string(Seen[id]));
        }
        Application.reset();
    }

    DataPathHost* Host = nullptr;
    std::mt19937 Random;
    bool Failed = false;
    Peer Udp, Client;
    std::vector<Peer> Clients; // the server link's
    UniqueFd ClientListener;
    std::vector<uint8_t> Missed; // what the client link's peer missed while down
    uint64_t DroppedAtDown = 0;
    std::unique_ptr<App> Application;
    uint64_t Sent[8] = {};
    uint64_t Seen[8] = {};
    uint64_t SessionBytes = 0;
};

} // namespace qlntest
