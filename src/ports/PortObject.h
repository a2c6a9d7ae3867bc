#pragma once
#include <cstdint>
#include <fstream>
#include <list>
#include <memory>
#include <string>

#include "net/NetObject.h"
#include "net/SocketEventHandler.h"
#include "platform/PortDriver.h"
#include "ports/ByteQueue.h"
#include "ports/CriticalSection.h"

class WaitSet;

// One virtual COM port: its driver handle, the two queues between the driver and
// the network, its links, its delays and its traffic log. Owned by the port manager.
// Everything here is guarded by the manager lock; each accessor takes it (it is
// re-entrant), so the pump thread may call them while it holds the lock.
class CPortObject : public CSocketEventHandler {
public:
    using NetLinkList = std::list<std::unique_ptr<CNetObject>>;

    CPortObject(int32_t portNumber, CCriticalSection* managerLock);
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
    // Stores the name (null counts as empty); a non-empty name has the file created at
    // once, nothing written. Reports nothing.
    void SetLogFile(const char* name);

    // Driver side. No lock of their own: the callers hold it.
    int OpenDriver();
    void CloseDriver();

    // Links (window thread; each takes the lock). Null when refused.
    CNetObject* AddTcpClient(const char* host, uint16_t remotePort);
    CNetObject* AddTcpServer(uint16_t listenPort);
    CNetObject* AddUdp(uint16_t localPort, const char* host, uint16_t remotePort);
    void RemoveLink(CNetObject* link);
    // Starts a new connection of an Unconnected TCP client link; nothing otherwise.
    void Reconnect(CNetObject* link);

    // One service step (pump thread, lock held). Returns the work count.
    int32_t Pump();
    // After a pass without work: what would give this port work to do (pump thread,
    // lock held).
    void CollectWaits(WaitSet& waits);

    // Socket events of the port's links; they run with the lock held.
    void OnAccept(CServerSocket* server, CClientSocket* client, void* userData) override;
    void OnClose(CSocket* socket, void* userData) override;
    void OnConnect(CClientSocket* socket, bool success, void* userData) override;
    void OnReceive(CSocket* socket, uint32_t count, void* userData) override;

    // One traffic log record (pump thread, lock held); `count` from 1 to 8192.
    void WriteLog(bool inbound, const uint8_t* data, uint32_t count);

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

private:
    // The chunk towards the network: who still needs which part of it.
    int32_t ServeLinks(const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeTcpClient(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeTcpServer(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    int32_t ServeUdp(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken);
    void ResetChunkProgress();
    bool FromNetFull() const;
    int32_t PollConnection(CClientSocket& socket);
    void TryAutoReconnect(CNetObject& link);
    // The tick from which the next automatic connection attempt of a TCP client link
    // may start.
    int32_t ReconnectDue(const CNetObject& link) const;
    // Polls a server link's listener unless accepting is paused for want of
    // descriptors.
    int32_t ServeListener(CNetObject& link);
    static bool AcceptPaused(const CNetObject& link, int32_t now);

    const int32_t PortNumber;
    CCriticalSection* const ManagerLock; // not owned
    int32_t SendToNetDelayTime = 0;
    int32_t ReceiveFromNetDelayTime = 0;
    DriverHandle DriverHandleValue = INVALID_DRIVER_HANDLE; // owned; closed by CloseDriver
    int32_t ToNetStamp = 0;
    int32_t FromNetStamp = 0;
    ByteQueue ToNetQueue;
    ByteQueue FromNetQueue;
    NetLinkList NetLinks;
    std::string LogFilename;
    std::ofstream LogStream; // open only while a record is written
    int32_t LogMode = 0;
    // A UDP link refused the current chunk for a reason that no descriptor will
    // report the end of (a host that does not resolve); the pump then retries it
    // every millisecond instead of waiting.
    bool UdpRefused = false;
    uint64_t DroppedDatagrams = 0;
};
