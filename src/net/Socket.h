#pragma once
#include <cstdint>
#include <string>

#include "net/NetAddress.h"
#include "platform/base/UniqueFd.h"

class CSocketEventHandler;

// The pump's record of one descriptor it waits on: which descriptor (and which
// opening of it) is registered, for which events, and the token its reports carry.
// Kept by the object that owns the descriptor, read and written only by the pump's
// poller under the manager lock.
struct PumpWatch {
    int Fd = -1;
    uint64_t Opening = 0;
    uint32_t Events = 0;
    uint64_t Token = 0;
};

using SocketHandle = int;
constexpr SocketHandle INVALID_SOCKET = -1;

// Base of the console's non-blocking sockets. The object owns its descriptor and
// closes it on destruction (with the OnClose event). Not thread-safe: every call
// on every socket is made under the port manager's lock.
//
// Operations answer with the plain results their callers expect (true/false,
// LastResult 0 or -1); the socket also keeps the errno and the name of the call
// that last failed, for a message that says why.
class CSocket {
public:
    CSocket() = default;
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    virtual ~CSocket();

    // Checks for an event without waiting; 1 when something was found or reported.
    virtual int Poll() = 0;
    virtual void Close();

    // Opens a socket of the type (SOCK_STREAM or SOCK_DGRAM) and family (AF_INET or
    // AF_INET6) unless one is open.
    SocketHandle Create(int type, int family = AF_INET);
    void Bind(const NetAddress& local);
    void SetNonBlocking(bool on);
    // The family of the open socket; AF_UNSPEC without one.
    int GetFamily() const { return Handle.Valid() ? Family : AF_UNSPEC; }

    SocketHandle GetHandle() const { return Handle.Get(); }
    int32_t GetLastResult() const { return LastResult; }
    void SetHandler(CSocketEventHandler* handler) { Handler = handler; }
    void SetUserData(void* userData) { UserData = userData; }

    // The errno of the last failed call, and that call's name ("bind", "connect", …);
    // 0 and null while nothing has failed.
    int GetLastErrno() const { return LastErrno; }
    const char* GetLastCall() const { return LastCall; }
    // The readiness the pump's wait reported for this socket (poll(2)/epoll bits). From
    // the first call on, the readiness tests answer from it instead of asking the
    // system, so a socket with nothing to report costs a pass no system call. The
    // pump clears it after each step.
    void GiveReadiness(uint32_t events)
    {
        PumpDriven = true;
        GivenEvents |= events;
    }
    void ClearReadiness() { GivenEvents = 0; }
    // Counts the descriptors this object has had: a new one means a new registration.
    uint64_t GetOpening() const { return Opening; }
    PumpWatch Watch;

    // "bind: Address already in use", or empty while nothing has failed.
    std::string LastErrorText() const;
    // The same without the call's name, for users: "Address already in use",
    // "Connection refused", "Name does not resolve"; empty while nothing has failed.
    std::string LastErrorReason() const;

protected:
    // Readiness of this one socket with a zero wait. ReadTest: 1 readable (or an
    // error or hang-up, which the read then tells apart), 0 not, -1 no handle or
    // failure. Readiness: the poll(2) events found, 0 none, -1 as above. poll rather
    // than select: select cannot take a descriptor numbered 1024 or above.
    int ReadTest() const;
    int Readiness(short events) const;

    // Records a failed call: LastResult -1, with errno and the call's name.
    void Fail(const char* call);
    // Opens a socket of `type` bound to `port` on `local`, or, with no local address
    // (Length 0) or "::", on every interface: an IPv6 socket that takes IPv4 peers
    // too, or an IPv4 one where the system has no IPv6. `reuse` sets SO_REUSEADDR before the
    // bind. False, with the failure recorded, when any step fails.
    bool OpenBound(int type, uint16_t port, const NetAddress& local, bool reuse);

    // Reports one event to the handler, if one is set; whatever the handler throws is
    // caught and dropped, and what the socket changed before the call stands.
    template <class Call>
    void Notify(Call&& call) noexcept
    {
        if (!Handler)
            return;
        CSocketEventHandler* handler = Handler;
        void* userData = UserData;
        try {
            call(*handler, userData);
        } catch (...) {
        }
    }

    UniqueFd Handle;
    int Family = AF_INET;
    int32_t LastResult = 0;
    int LastErrno = 0;
    const char* LastCall = nullptr;
    CSocketEventHandler* Handler = nullptr;
    void* UserData = nullptr;
    uint64_t Opening = 0;
    bool PumpDriven = false;
    uint32_t GivenEvents = 0;
};
