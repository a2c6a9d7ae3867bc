#pragma once
#include <cstdint>
#include <exception>
#include <string>

#include "net/NetAddress.h"
#include "net/ReadinessWait.h"
#include "platform/base/Failure.h"
#include "platform/base/UniqueFd.h"

class CSocketEventHandler;

using SocketHandle = int;
constexpr SocketHandle INVALID_SOCKET = -1;

// Base of the console's non-blocking sockets. The object owns its descriptor and
// closes it on destruction (with the OnClose event). Not thread-safe: every call
// on every socket is made under the port manager's lock.
//
// A call that can fail answers with its Failure (empty: it went well) or with what
// it moved; either way the socket keeps the last Failure (errno, call, words), for
// a message that says why.
class CSocket {
public:
    CSocket() = default;
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    virtual ~CSocket();

    // Acts on what the wait reported for an event of the socket's own (a connection
    // attempt that finished, a connection to accept) and reports it to the handler; 1
    // when something was found. Data is never reported: whoever serves the socket
    // reads it when ReadReported says so.
    virtual int Poll() { return 0; }
    virtual void Close();

    // Opens a socket of the type (SOCK_STREAM or SOCK_DGRAM) and family (AF_INET or
    // AF_INET6) unless one is open.
    SocketHandle Create(int type, int family = AF_INET);
    Failure Bind(const NetAddress& local);
    Failure SetNonBlocking(bool on);
    // The family of the open socket; AF_UNSPEC without one.
    int GetFamily() const { return Handle.Valid() ? Family : AF_UNSPEC; }

    SocketHandle GetHandle() const { return Handle.Get(); }
    void SetHandler(CSocketEventHandler* handler) { Handler = handler; }
    void SetUserData(void* userData) { UserData = userData; }

    // The last failed call: errno, the call's name ("bind", "connect", …) and words;
    // empty while nothing has failed.
    const Failure& GetLastFailure() const { return LastFailure; }
    int GetLastErrno() const { return LastFailure.Errno; }
    // The readiness the pump's wait reported for this socket (poll(2)/epoll bits). Once
    // the socket is in the wait (Given.Reported), the readiness tests answer from it
    // instead of asking the system, so a socket with nothing to report costs a pass
    // no system call. The pump clears it after each step.
    WaitReport Given;
    void ClearReadiness() { Given.Events = 0; }
    // Whether a read may find something: the wait reported the socket readable, or an
    // error or hang-up (which a read then tells apart). A socket the wait has not
    // reported on yet (just accepted, or outside any wait) is read to find out: one
    // read costs what asking the system would.
    bool ReadReported() const;
    // Counts the descriptors this object has had: a new one means a new registration.
    uint64_t GetOpening() const { return Opening; }
    // The socket's place in the pump's wait; it leaves the wait when the socket closes.
    WaitRegistration Registration;

    // "bind: Address already in use", or empty while nothing has failed.
    std::string LastErrorText() const { return LastFailure.Text(); }
    // The same without the call's name, for users: "Address already in use",
    // "Connection refused", "Name does not resolve"; empty while nothing has failed.
    std::string LastErrorReason() const { return LastFailure.Reason(); }

protected:
    // Readiness of this one socket: what the wait reported (Given), or for a socket
    // outside any wait a poll(2) with a zero wait. ReadTest: 1 readable (or an error
    // or hang-up, which the read then tells apart), 0 not, -1 no handle or failure.
    // Readiness: the poll(2) events found, 0 none, -1 as above. poll rather than
    // select: select cannot take a descriptor numbered 1024 or above.
    int ReadTest() const;
    int Readiness(short events) const;

    // Records a failed call, with errno and the call's name; answers it.
    const Failure& Fail(const char* call);
    const Failure& Fail(Failure failure);
    // Opens a socket of `type` bound to `port` on `local`, or, with no local address
    // (Length 0) or "::", on every interface: an IPv6 socket that takes IPv4 peers
    // too, or an IPv4 one where the system has no IPv6. `reuse` sets SO_REUSEADDR before the
    // bind. The failure of the step that failed (recorded too); empty when bound.
    Failure OpenBound(int type, uint16_t port, const NetAddress& local, bool reuse);

    // Reports one event to the handler, if one is set. What the socket changed before
    // the call stands whatever the handler does; what a handler throws (memory
    // running out) is recorded as the socket's last failure and said in the event
    // log, so the link's figures and the log show it.
    template <class Call>
    void Notify(Call&& call) noexcept
    {
        if (!Handler)
            return;
        try {
            call(*Handler, UserData);
        } catch (const std::exception& caught) {
            HandlerFailed(caught.what());
        } catch (...) {
            HandlerFailed("an unknown exception");
        }
    }
    void HandlerFailed(const char* what) noexcept;

    UniqueFd Handle;
    int Family = AF_INET;
    Failure LastFailure;
    CSocketEventHandler* Handler = nullptr;
    void* UserData = nullptr;
    uint64_t Opening = 0;
};
