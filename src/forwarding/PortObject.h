#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "forwarding/ByteQueue.h"
#include "forwarding/PortDevice.h"
#include "forwarding/PortLinkSet.h"
#include "forwarding/TrafficRecorder.h"
#include "links/Connection.h"
#include "links/LinkMakers.h"
#include "links/ListeningLink.h"
#include "links/NetObject.h"
#include "links/PortSide.h"
#include "links/UdpLink.h"
#include "net/ReadinessWait.h"
#include "platform/base/CriticalSection.h"
#include "platform/base/Failure.h"

class HostResolver;
class LinkWaits;

// One virtual COM port: its device, the two queues between the device and the
// network, its delays and its step. Beside it, its links (PortLinkSet) and what it
// tells of its traffic (TrafficRecorder). Owned by the port manager.
//
// The port moves bytes and asks its links; it never asks what kind a link is. Each
// link serves its own sockets and hands what it receives to the port (PortSide).
//
// Everything here is guarded by the manager lock; each accessor takes it (it is
// re-entrant), so the pump thread may call them while it holds the lock.
class CPortObject final : private PortSide {
public:
    using NetLinkList = PortLinkSet::NetLinkList;

    // `resolver` (not owned; the port manager's) looks the links' host names up;
    // without one, only numeric hosts can be reached. `device` is what the port
    // reads and writes; without one, COM<portNumber> of the pseudo-terminal driver.
    CPortObject(int32_t portNumber, CCriticalSection* managerLock, HostResolver* resolver = nullptr,
                std::unique_ptr<PortDevice> device = nullptr);
    CPortObject(const CPortObject&) = delete;
    CPortObject& operator=(const CPortObject&) = delete;
    // Removes the links in list order, closes the device, drops queued bytes.
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
    // Whether each record carries its time and where its bytes came from or went to.
    bool GetLogTimestamps();
    void SetLogTimestamps(bool on);
    std::string GetLogFilename();
    // Whether the traffic log stopped (its last record could not be written), why
    // and since when.
    TrafficLogState GetLogState();
    // Stores the name (null counts as empty); a non-empty name has the file created at
    // once, nothing written. Reports nothing.
    void SetLogFile(const char* name);

    // Device side. No lock of their own: the callers hold it. An open device stays
    // open; the failure says why it could not be opened.
    Failure OpenDriver();
    void CloseDriver();
    // Why the port carries no data, in words for the user ("COM3 is also claimed by
    // device ROOT\PORTS\0002"); empty while it is served. Set by the manager each
    // time it opens the ports.
    std::string GetUnavailableReason();
    void SetUnavailableReason(const std::string& reason);

    // What AddTcpServer and AddUdp do when the local port cannot be bound now: the
    // add dialog refuses the link; the configuration load keeps it, not listening,
    // and the pump tries to bind it every ListenRetryInterval. Settings that cannot
    // serve (a bad allow-list entry, a TLS file that cannot be had) are refused or
    // kept the same way, for any kind; a kept one never listens or connects, and
    // says why.
    using BindFailure = PortLinkSet::BindFailure;
    static constexpr int32_t ListenRetryInterval = ListeningLink::ListenRetryInterval;

    // Links (window thread; each takes the lock). No link when refused; the Why then
    // says why the local port could not be had ("Address already in use"), and so it
    // does for a link kept by KeepAndRetry that could not start.
    // `options` holds what the kind takes of it (LinkOptions).
    MadeLink AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options = {},
                          BindFailure onFailure = BindFailure::Refuse);
    MadeLink AddTcpServer(uint16_t listenPort, BindFailure onFailure = BindFailure::Refuse,
                          const LinkOptions& options = {});
    MadeLink AddUdp(uint16_t localPort, const char* host, uint16_t remotePort,
                    BindFailure onFailure = BindFailure::Refuse, const LinkOptions& options = {});
    // Any kind of link: `make` builds it for the port it is given, AddLink starts it
    // and keeps it (or refuses it, as `onFailure` says, when it cannot listen). The
    // three kinds above are made this way; a new kind needs nothing else here.
    using LinkMaker = ::LinkMaker;
    MadeLink AddLink(const LinkMaker& make, BindFailure onFailure = BindFailure::Refuse);
    // The makers of the three kinds (links/LinkMakers.h), as AddTcpClient, AddTcpServer
    // and AddUdp use them (null links for a port 0).
    static LinkMaker TcpClientMaker(std::string host, uint16_t remotePort, LinkOptions options = {})
    {
        return ::TcpClientMaker(std::move(host), remotePort, std::move(options));
    }
    static LinkMaker TcpServerMaker(uint16_t listenPort, LinkOptions options = {})
    {
        return ::TcpServerMaker(listenPort, std::move(options));
    }
    static LinkMaker UdpMaker(uint16_t localPort, std::string host, uint16_t remotePort, LinkOptions options = {})
    {
        return ::UdpMaker(localPort, std::move(host), remotePort, std::move(options));
    }
    // A link of this port made by `make`, neither started nor kept (to be compared with
    // the port's links, or kept by AddLink). Lock held by the caller.
    std::unique_ptr<CNetObject> MakeLink(const LinkMaker& make);
    void RemoveLink(CNetObject* link);
    // Puts `fresh`, a link of this port made a moment ago, in the place of `old`,
    // which goes, in one hold of the lock: the pump sees either the old link or the
    // new one, never both. A fresh server or UDP link that could not bind because
    // `old` holds that very port (same kind, same local port) takes over old's bound
    // socket instead, with a server's accepted connections and each peer's progress
    // through the current chunk; one with another listen address on that port binds
    // anew once old's socket is closed (old's socket is bound again when it cannot,
    // or retried as any unbound link's). No link when `fresh` still has no socket to listen
    // on: `fresh` is removed, `old` stays as it was, and the Why says why fresh's port
    // could not be had; `fresh` when it took the place.
    MadeLink ReplaceLink(CNetObject* old, CNetObject* fresh);
    // Starts a new connection of an Unconnected TCP client link; nothing otherwise.
    void Reconnect(CNetObject* link);
    // Puts the port's links in the order of `order` (links of the port); the links it
    // does not name follow in their order. Lock taken.
    void ArrangeLinks(const std::vector<CNetObject*>& order);

    // The traffic monitors: each tap gets a record of every chunk the port moves, as
    // the traffic log does, until it is removed (lock taken). With no tap the pump
    // does nothing for them. A tap the port still holds when it goes is dropped.
    void AddTap(std::shared_ptr<TrafficTap> tap);
    void RemoveTap(const TrafficTap* tap);

    // The pump's side; pump thread (or a holder of the lock while the pump lives),
    // lock held.
    //
    // The wait in which the port's descriptors are registered (not owned; the
    // manager's, while its pump runs).
    void SetWait(ReadinessWait* wait);
    // The notice of an application opening some port arrived: when the device says
    // it was this one, the next step looks whether an application took the port.
    void OpenNoticeArrived();
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
    // After a step: makes the wait watch for what the next step would act on, and
    // works out when the port is due by time.
    void ArmWaits();
    // Before the port goes while the pump runs: takes it out of the wait.
    void StopWaiting();

    // One traffic log record (pump thread, lock held); `count` from 1 to 8192.
    void WriteLog(bool inbound, const uint8_t* data, uint32_t count);

    // The most one receive takes from a socket.
    static constexpr uint32_t ReceiveLimit = Connection::ReceiveLimit;
    // Bytes waiting for the application above which TCP links are not read.
    static constexpr size_t FromNetHighWater = 256 * 1024;
    // Bytes waiting for the application beyond which datagrams are dropped whole.
    static constexpr size_t FromNetUdpCap = UdpLink::FromNetCap;

    // For tests and the window: bytes waiting in each direction.
    size_t ToNetQueued();
    size_t FromNetQueued();
    // Datagrams dropped because FromNetUdpCap bytes already waited.
    uint64_t GetDroppedDatagrams();
    // Bytes written to the application, and read from it, since the port was made.
    uint64_t GetBytesToApplication();
    uint64_t GetBytesFromApplication();
    // Whether an application holds the port: the device's status request succeeds and
    // counts more than the console's own handle. Takes the lock.
    bool IsOpenedByApplication();
    // The device's status request.
    bool QueryStatus(PortStatus* status);

private:
    // PortSide: what the links ask of the port.
    void FromNet(const uint8_t* data, size_t count, const OriginRef& from) override;
    void DropFromNet(uint64_t source) override;
    bool ApplicationPresent() const override { return ApplicationHeld; }
    bool FromNetFull() const override;
    size_t FromNetWaiting() const override { return FromNetQueue.Size(); }
    void DatagramDropped() override { ++DroppedDatagrams; }
    void PeerCameUp() override { PeerUp = true; }
    HostResolver* Resolver() const override { return HostNames; }
    bool ReadLineSettings(LineSettings& settings) override;
    CCriticalSection* Lock() const override { return ManagerLock; }
    std::string Name() const override { return "COM" + std::to_string(PortNumber); }
    size_t LinkPosition(const CNetObject& link) const override { return Links.Position(link); }

    // The pump step's parts.
    void DeliverToApplication();
    void TakeFromApplication();
    // A read of the port failed for a reason other than the application's absence:
    // said in the event log (once while the reason stays the same).
    void NoteReadFailure(const Failure& why);
    // Drops `count` bytes from the front of FromNetQueue, with their origins.
    void TakeFromNet(size_t count);
    // Tells the links when an application took or let go of the port.
    void NoteApplication(bool held);
    // Line reports from the device while a link wants them, and none otherwise.
    void UpdateLineReports();
    // The application's settings changes and flushes, handed to the links. Returns the
    // work count.
    int32_t TakeLineReports();
    void DueBy(int32_t tick);

    const int32_t PortNumber;
    CCriticalSection* const ManagerLock; // not owned
    ReadinessWait* Wait = nullptr;        // not owned; the manager's, while its pump runs
    HostResolver* const HostNames;        // not owned; may be null
    std::unique_ptr<PortDevice> Device;   // owned; opened by OpenDriver, closed by CloseDriver
    int32_t SendToNetDelayTime = 0;
    int32_t ReceiveFromNetDelayTime = 0;
    int32_t ToNetStamp = 0;
    int32_t FromNetStamp = 0;
    ByteQueue ToNetQueue;
    ByteQueue FromNetQueue;
    // Who sent the bytes of FromNetQueue, stretch by stretch, in the queue's order.
    std::deque<SenderStretch> FromNetOrigins;
    PortLinkSet Links;
    TrafficRecorder Recorder;
    std::string UnavailableReason;
    bool LineReportsOn = false; // the device reports the application's line changes
    bool ApplicationHeld = false; // as the links last heard
    // The pump's wait: the master's registration and what was reported for it, a
    // report for any of the port's descriptors, the open notice, and when the port
    // is next due by time.
    WaitRegistration MasterRegistration;
    WaitReport Master;  // what the wait found for the master
    WaitReport Reports; // the wait found something for one of the port's descriptors
    bool LookingForApplication = true;
    // A link connected, or a server link accepted a client, in this step: a chunk
    // held back for want of a peer may go in the next one.
    bool PeerUp = false;
    // The application let go: what it wrote before is read out until the device
    // says nothing is left.
    bool Draining = false;
    // A live peer has had the current chunk, in this step or an earlier one.
    bool ChunkDelivered = false;
    std::string SaidReadFailure;
    bool HasDue = false;
    int32_t Due = 0;
    uint64_t DroppedDatagrams = 0;
    uint64_t BytesToApplication = 0;
    uint64_t BytesFromApplication = 0;
};

// Whether an application holds the port (null: no). Takes the lock.
bool IsOpenedByApplication(CPortObject* port);
// The driver's status request on the port's handle.
bool QueryStatus(CPortObject* port, PortStatus* status);
