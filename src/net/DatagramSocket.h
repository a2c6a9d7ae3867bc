#pragma once
#include "net/Socket.h"

// A UDP socket bound to a local port. Construction leaves GetLastFailure empty when
// it is ready.
class CDatagramSocket : public CSocket {
public:
    // Bound to `localPort` of `local`; without a local address (Length 0) on every
    // interface, for IPv4 and IPv6 peers alike.
    explicit CDatagramSocket(uint16_t localPort, const NetAddress& local = NetAddress());
    ~CDatagramSocket() override;

    // Reads the next datagram that has bytes into `buffer` (`length`: in the capacity,
    // out the bytes received; a longer datagram is cut there) and its sender. Empty
    // datagrams ahead of it are read away, at most MaxEmptySkipped of them, so that a
    // flood of them cannot hold the pump. Empty when one was read; otherwise why not:
    // none waits (EAGAIN, also after MaxEmptySkipped empty ones) or the read failed.
    // The socket stays open either way.
    Failure ReceiveNext(void* buffer, uint32_t* length, NetAddress& sender);
    static constexpr int MaxEmptySkipped = 64;
    // Reads one datagram. `length`: in the capacity, out the bytes received.
    // `address` (16 characters or more) and `port` receive the sender when given:
    // an IPv4 sender in dotted form, an IPv6 one as an empty text. Empty when a
    // datagram (perhaps an empty one) was read.
    Failure ReceiveFrom(void* buffer, uint32_t* length, char* address = nullptr, uint16_t* port = nullptr);
    // The same, with the sender as it is (an IPv4 sender of an IPv6 socket unmapped).
    Failure ReceiveFrom(void* buffer, uint32_t* length, NetAddress& sender);
    // Empty when the whole datagram went to `host`:`port`. The host is looked up on
    // every call and may wait for a name server; the links send to the address
    // their host cache holds instead.
    Failure SendTo(const void* data, int32_t length, const char* host, uint16_t port);
    // An IPv4 destination of an IPv6 socket goes as the IPv4 address it is; an IPv6
    // one of an IPv4 socket is refused (EAFNOSUPPORT). A full send buffer answers
    // EAGAIN.
    Failure SendTo(const void* data, int32_t length, const NetAddress& to);
    Failure SetBroadcast(bool on);
};
