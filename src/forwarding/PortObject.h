#pragma once
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "net/NetObject.h"
#include "net/SocketEventHandler.h"
#include "platform/pty/PortDriver.h"
#include "forwarding/ByteQueue.h"
#include "forwarding/TrafficLog.h"
#include "platform/base/CriticalSection.h"

class HostResolver;
class PumpPoller;

// One virtual COM port: its driver handle, the two queues between the driver and
// the network, its links, its delays and its traffic log. Owned by the port manager.
// Everything here is guarded by the manager lock; each accessor takes it (it is
// re-entrant), so the pump thread may call them while it holds the lock.
class CPortObject : public CSocketEventHandler {
public:
    using NetLinkList = std::list<std::unique_ptr<CNetObject>>;

    // `resolver` (not owned; the port manager's) looks the links' host names up;
    // without one, only numeric hosts can be reached.
    CPortObject(int32_t portNumber, CCriticalSection* managerLock, HostResolver* resolver = nullptr);
    CPortObject(const CPortObject&) = delete;
    CPortObject& operator=(const CPortObject&) = delete;
    // Removes the links in list order, closes the driver handle, drops queued bytes.
    // Takes no lock: its callers hold it or run while the pump thread does not.
    ~CPortObject();

    int32_t GetPortNumber();
    DriverHandle GetDriverHandle();
    // The list itself; iterate it only while holding the manager lock.
    NetLinkList& GetNetLinks();
    int32_t GetSendToNetDelayTime();
    void SetSendToNetDelayTime(int32_t milliseconds);
    int32_t GetReceiveFromNetDelayTime();
    void SetReceiveFromNetDelayTime(int32_t milliseconds);
    int32_t GetLogMode();
    void SetLogMode(int32_t mode);
    std::string GetLogFilename();
    // Whether the traffic log stopped (its last record could not be written), why
    // and since when.
    TrafficLogState GetLogState();
    // Stores the name (null counts as empty); a non-empty name has the file created at
    // once, nothing written. Reports nothing.
    void SetLogFile(const char* name);

    // Driver side. No lock of their own: the callers hold it.
    int OpenDriver();
    void CloseDriver();
    // Why the port carries no data, in words for the user ("COM3 is also claimed by
    // device ROOT\PORTS\0002"); empty while it is served. Set by the manager each
    // time it opens the ports.
    std::string GetUnavailableReason();
    void SetUnavailableReason(const std::string& reason);

    // What AddTcpServer and AddUdp do when the local port cannot be bound now: the
    // add dialog refuses the link; the configuration load keeps it, not listening,
    // and the pump tries to bind it every ListenRetryInterval.
    enum class BindFailure { Refuse, KeepAndRetry };
    static constexpr int32_t ListenRetryInterval = 5000; // milliseconds

    // Links (window thread; each takes the lock). Null when refused; `whyRefused`, when
    // given, then receives why the local port could not be had ("Address already in use").
    // `options` holds what the kind takes of it (LinkOptions).
    CNetObject* AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options = {});
    CNetObject* AddTcpServer(uint16_t listenPort, BindFailure onFailure = BindFailure::Refuse,
                             std::string* whyRefused = nullptr, const LinkOptions& options = {});
    CNetObject* AddUdp(uint16_t localPort, const char* host, uint16_t remotePort,
                       BindFailure onFailure = BindFailure::Refuse, std::string* whyRefused = nullptr,
                       const LinkOptions& options = {});
    void RemoveLink(CNetObject* link);
    // Puts `fresh`, a link of this port made a moment ago, in the place of `old`,
    // which goes, in one hold of the lock: the pump sees either the old link or the
    // new one, never both. A fresh server or UDP link that could not bind because
    // `old` holds that very port (same kind, same local port) takes over old's bound
    // socket instead, with a server's accepted connections and each peer's progress
    // through the current chunk; one with another listen address on that port binds
    // anew once old's socket is closed (old's socket is bound again when it cannot,
    // or retried as any unbound link's). False when `fresh` still has no socket to listen on:
    // `fresh` is removed, `old` stays as it was, and `whyRefused`, when given,
    // receives why fresh's port could not be had.
    bool ReplaceLink(CNetObject* old, CNetObject* fresh, std::string* whyRefused = nullptr);
    // Starts a new connection of an Unconnected TCP client link; nothing otherwise.
    void Reconnect(CNetObject* link);

    // The pump's side; pump thread (or a holder of the lock while the pump lives),
    // lock held.
    //
    // The port's name in the pump's registrations; never used twice in a process.
    uint32_t GetSerial() const { return Serial; }
    // The poller that waits on the port's descriptors (not owned; the manager's).
    void SetPoller(PumpPoller* poller);
    // A report of the pump's wait for one of the port's registrations.
    void GiveReadiness(uint64_t token, uint32_t events);
    // Its next step should look whether an application took the port (the notice
    // of an application opening some port arrived).
    void LookForApplication() { LookingForApplication = true; }
    // Whether the port has something to do at `now`: a report of the wait, or a
    // delay, interval or retry that ran out.
    bool IsDue(int32_t now) const;
    // The tick by which it is due at the latest, when it is due by time at all.
    bool NextDue(int32_t& due) const
    {
        due = Due;
        return HasDue;
    }
    // One service step. Returns the work count.
    int32_t Pump();
    // After a step: makes the poller wait for what the next step would act on, and
    // works out when the port is due by time.
    void Watch(PumpPoller& poller);
    // Before the port goes while the pump runs: takes it out of the wait.
    void StopWatching(PumpPoller& poller);

    // Socket events of the port's links; they run with the lock held.
    void OnAccept(CServerSocket* server, CClientSocket* client, void* userData) override;
    void OnClose(CSocket* socket, void* userData) override;
    void OnConnect(CClientSocket* socket, bool success, void* userData) override;
    void OnReceive(CSocket* socket, uint32_t count, void* userData) override;

    // One traffic log record (pump thread, lock held); `count` from 1 to 8192.
    void WriteLog(bool inbound, const uint8_t* data, uint32_t count);

    // The most one receive takes from a socket.
    static constexpr uint32_t ReceiveLimit = 64 * 1024;
    // Bytes waiting for the application above which TCP links are not read.
    static constexpr size_t FromNetHighWater = 256 * 1024;
    // Bytes waiting for the application beyond which datagrams are dropped whole.
    // UDP has no flow control to hold a sender back, so without a cap any host could
    // grow the console's memory for as long as no application reads the port. 4 MiB
    // is 16 times the TCP mark, about six minutes of a 115200 baud line and several
    // seconds at a pseudo-terminal's full speed, so an application that pauses
    // loses nothing; and it keeps a flood of many ports within a desktop's memory.
    static constexpr size_t FromNetUdpCap = 4 * 1024 * 1024;
    // The pump never starts TCP connection attempts of one link more often than
    // this, whatever ReconnectIntervalTime says (0 and negative values are stored
    // and shown as they are). Milliseconds.
    static constexpr int32_t ReconnectFloor = 100;

    // For tests and the window: bytes waiting in each direction.
    size_t ToNetQueued();
    size_t FromNetQueued();
    // Datagrams dropped because FromNetUdpCap bytes already waited. Any thread.
    uint64_t GetDroppedDatagrams();
    // Bytes written to the application, and read from it, since the port was made.
    uint64_t GetBytesToApplication();
    uint64_t GetBytesFromApplication();

private:
    // The chunk towards the network: who still needs which part of it.
    int32_t ServeLinks(const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeTcpClient(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeTcpServer(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeUdp(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    void ResetChunkProgress();
    bool FromNetFull() const;
    // Polls a connection; one whose port or wire buffer is full is only watched for
    // its peer leaving.
    int32_t PollConnection(CClientSocket& socket, const LinkProtocol* protocol = nullptr);

    // Line control on TCP links (PortLinkProtocol.cpp); lock held.
    //
    // Reads the application's settings for a session.
    ComPortSession::SettingsReader LineReader();
    // A new connection of a link with line control: a fresh session in `slot`, its
    // offers in the wire buffer.
    void StartProtocol(std::unique_ptr<LinkProtocol>& slot, ComPortSession::Role role);
    // The line control of the connection `socket` of `link`, or null.
    LinkProtocol* ProtocolOf(CNetObject& link, CSocket* socket);
    // The connection owes its peer so much that it is not read until the peer reads.
    static bool WireBacklog(const LinkProtocol* protocol);
    // SendRest for a connection with line control: the chunk goes into the wire
    // buffer whole, encoded, when there is room, and counts as taken from then on.
    static int32_t OfferEncoded(CClientSocket& socket, LinkProtocol& protocol, const uint8_t* chunk,
                                uint32_t length, uint32_t& taken, bool& waitsWritable, bool& refused,
                                uint64_t& bytesSent);
    // After a connection's poll: what its session owes the peer goes out.
    static int32_t ServeWire(CClientSocket& socket, LinkProtocol* protocol, bool& waitsWritable);
    // Received bytes of a connection with line control: false for one without; else
    // the data bytes in `data` and the session's answers in the wire buffer.
    bool DecodeReceived(CNetObject& link, CSocket* socket, const uint8_t* bytes, uint32_t count,
                        std::vector<uint8_t>& data);
    // Line reports from the driver while the port has a TCP client link with line
    // control, and none otherwise.
    void UpdateLineReports();
    // The application's settings changes and flushes, for the TCP client links with
    // line control. Returns the work count.
    int32_t TakeLineReports();
    void TryAutoReconnect(CNetObject& link);
    // Reaching a link's remote host through its host cache; none of them waits
    // for a lookup.
    enum class ConnectStart { Started, Waiting, Failed };
    ConnectStart StartConnect(CNetObject& link);
    ConnectStart ConnectToRemote(CNetObject& link, bool ask);
    void FinishWaitingConnect(CNetObject& link);
    void TryNextAddress(CNetObject& link);
    bool UdpDestination(CNetObject& link, NetAddress& to);
    // Binds the local socket of a TCP server or UDP link on its LocalPort and wires it
    // to this port; false, the link left without one, when that fails. Lock held.
    bool Listen(CNetObject& link);
    // Adds a new TCP server or UDP link once Listen has bound it; one that cannot bind
    // is refused with the reason, or kept to retry, as `onFailure` says. Lock held.
    CNetObject* AddListening(std::unique_ptr<CNetObject> link, BindFailure onFailure, std::string* whyRefused);
    // The pump's retry for a link that is not listening. Lock held.
    void RetryListen(CNetObject& link);
    // The tick from which the next automatic connection attempt of a TCP client link
    // may start.
    int32_t ReconnectDue(const CNetObject& link) const;
    // Polls a server link's listener unless accepting is paused for want of
    // descriptors.
    int32_t ServeListener(CNetObject& link);
    static bool AcceptPaused(const CNetObject& link, int32_t now);
    void DueBy(int32_t tick);
    // Calls `visit(socket)` for every socket of every link until it returns false.
    template <class Visit>
    void ForEachSocket(Visit&& visit)
    {
        for (auto& link : NetLinks) {
            CSocket* own[] = {link->ClientSocket.get(), link->ServerSocket.get(), link->DatagramSocket.get()};
            for (CSocket* socket : own) {
                if (socket && !visit(*socket))
                    return;
            }
            for (auto& client : link->Clients) {
                if (!visit(*client.Socket))
                    return;
            }
        }
    }

    const int32_t PortNumber;
    const uint32_t Serial;
    CCriticalSection* const ManagerLock; // not owned
    PumpPoller* Poller = nullptr;         // not owned; the manager's, while its pump runs
    HostResolver* const Resolver;         // not owned; may be null
    int32_t SendToNetDelayTime = 0;
    int32_t ReceiveFromNetDelayTime = 0;
    DriverHandle DriverHandleValue = INVALID_DRIVER_HANDLE; // owned; closed by CloseDriver
    int32_t ToNetStamp = 0;
    int32_t FromNetStamp = 0;
    ByteQueue ToNetQueue;
    ByteQueue FromNetQueue;
    NetLinkList NetLinks;
    std::string UnavailableReason;
    TrafficLog Log;
    // A UDP link refused the current chunk for a reason that no descriptor will
    // report the end of (a broadcast address without permission); the pump then
    // offers it again a little later instead of waiting. A host still being looked
    // up is not such a refusal: the resolver's answer wakes the pump.
    bool UdpRefused = false;
    bool LineReportsOn = false; // the driver reports the application's line changes
    // The pump's wait: the master's registration and what was reported for it, a
    // report for any of the port's descriptors, the open notice, and when the port
    // is next due by time.
    PumpWatch MasterWatch;
    uint32_t MasterEvents = 0;
    bool Ready = false;
    bool LookingForApplication = true;
    // A link connected, or a server link accepted a client, in this step: a chunk
    // held back for want of a peer may go in the next one.
    bool PeerCameUp = false;
    bool HasDue = false;
    int32_t Due = 0;
    uint64_t DroppedDatagrams = 0;
    uint64_t BytesToApplication = 0;
    uint64_t BytesFromApplication = 0;
};
