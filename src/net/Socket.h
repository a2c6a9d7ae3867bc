#pragma once
#include <cstdint>

class CSocketEventHandler;

using SocketHandle = int;
constexpr SocketHandle INVALID_SOCKET = -1;

// Base of the console's non-blocking IPv4 sockets. The object owns its handle and
// closes it on destruction (with the OnClose event). Not thread-safe: every call
// on every socket is made under the port manager's lock.
class CSocket {
public:
    CSocket() = default;
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    virtual ~CSocket();

    // Checks for an event without waiting; 1 when something was found or reported.
    virtual int Poll() = 0;
    virtual void Close();

    // Opens a socket of the type (SOCK_STREAM or SOCK_DGRAM) unless one is open.
    SocketHandle Create(int type);
    void Bind(uint16_t port);
    void SetNonBlocking(bool on);

    SocketHandle GetHandle() const { return Handle; }
    int32_t GetLastResult() const { return LastResult; }
    void SetHandler(CSocketEventHandler* handler) { Handler = handler; }
    CSocketEventHandler* GetHandler() const { return Handler; }
    void SetUserData(void* userData) { UserData = userData; }
    void* GetUserData() const { return UserData; }

protected:
    // Readiness tests on this one socket with a zero wait: 1 ready, 0 not, -1 no handle
    // or failure.
    int ReadTest() const;
    int WriteTest() const;
    int ExceptionTest() const;
    // The poll(2) answer for this one socket with a zero wait: the returned events,
    // 0 when nothing is ready, -1 without a handle or when the call failed.
    int Readiness(short events) const;

    // Runs one handler call; whatever it throws is caught and dropped, and what the
    // socket changed before the call stands.
    template <class Call>
    static void Guarded(Call&& call) noexcept
    {
        try {
            call();
        } catch (...) {
        }
    }

    SocketHandle Handle = INVALID_SOCKET;
    int32_t LastResult = 0;
    CSocketEventHandler* Handler = nullptr;
    void* UserData = nullptr;
};
