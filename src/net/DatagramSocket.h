#pragma once
#include "net/Socket.h"

struct NetAddress;

// A UDP socket bound to a local port. Construction leaves LastResult 0 when ready.
class CDatagramSocket : public CSocket {
public:
    explicit CDatagramSocket(uint16_t localPort);
    ~CDatagramSocket() override;

    int Poll() override;
    // Reads one datagram. `length`: in the capacity, out the bytes received.
    // `address` (16 characters or more) and `port` receive the sender when given.
    bool ReceiveFrom(void* buffer, uint32_t* length, char* address = nullptr, uint16_t* port = nullptr);
    // True when the whole datagram went to `host`:`port`. The host is looked up on
    // every call and may wait for a name server; the links send to the address
    // their host cache holds instead.
    bool SendTo(const void* data, int32_t length, const char* host, uint16_t port);
    bool SendTo(const void* data, int32_t length, const NetAddress& to);
    void SetBroadcast(bool on);

    uint32_t GetAnnounced() const { return Announced; }

private:
    uint32_t Announced = 0;
};
