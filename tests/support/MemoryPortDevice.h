#pragma once
#include <cstdint>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "forwarding/PortDevice.h"
#include "platform/base/UniqueFd.h"

namespace qlntest {

// A port's device in memory, for tests of the port's step without a pseudo-terminal.
// The test plays the application: Hold and Release, Send what it writes, Take what
// it got. Bytes for the application fit in Capacity, as in the driver; what the
// application wrote stays readable after it lets go, until Gone.
//
// The descriptor to wait on is a real pipe per hold: readable while the
// application's bytes wait, hung up once it lets go, as the pseudo-terminal's master
// is. Pipes of past holds stay open until the device goes, so a wait that still
// holds one never sees its number reused.
class MemoryPortDevice final : public PortDevice {
public:
    static constexpr uint32_t Capacity = PortDriver::BufferSize;

    // The application's side.
    void Hold()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        Pipes.emplace_back(UniqueFd(fds[0]), UniqueFd(fds[1]));
        Held = true;
        Opened = true;
        Signal();
    }
    void Release()
    {
        Held = false;
        if (!Pipes.empty())
            Pipes.back().second.Reset();
    }
    void Send(const std::vector<uint8_t>& bytes)
    {
        FromApplication.insert(FromApplication.end(), bytes.begin(), bytes.end());
        Signal();
    }
    // Up to `most` of the bytes the port wrote for the application.
    std::vector<uint8_t> Take(size_t most = SIZE_MAX)
    {
        const size_t n = std::min(most, ToApplication.size());
        std::vector<uint8_t> out(ToApplication.begin(), ToApplication.begin() + static_cast<std::ptrdiff_t>(n));
        ToApplication.erase(ToApplication.begin(), ToApplication.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }
    size_t Unread() const { return ToApplication.size(); }
    size_t Unsent() const { return FromApplication.size(); }

    // What the port did: the length of each write it made, and the reads.
    std::vector<uint32_t> Writes;
    uint32_t Reads = 0;
    LineEvent Events = LineEvent::None;
    LineSettings Line {};

    // PortDevice.
    Failure Open() override
    {
        if (OpenHandle == INVALID_DRIVER_HANDLE)
            OpenHandle = ++Opens;
        return {};
    }
    void Close() override { OpenHandle = INVALID_DRIVER_HANDLE; }
    DriverHandle Handle() const override { return OpenHandle; }
    ReadOutcome Read(uint8_t* buffer, uint32_t capacity) override
    {
        if (OpenHandle == INVALID_DRIVER_HANDLE)
            return {ReadResult::Failed, 0, Failure::Said("the port is not open")};
        ++Reads;
        if (FromApplication.empty())
            return {Held ? ReadResult::Nothing : ReadResult::Gone, 0, {}};
        const auto count = static_cast<uint32_t>(std::min<size_t>(capacity, FromApplication.size()));
        std::copy_n(FromApplication.begin(), count, buffer);
        FromApplication.erase(FromApplication.begin(), FromApplication.begin() + count);
        Signal();
        return {ReadResult::Bytes, count, {}};
    }
    bool Write(const uint8_t* data, uint32_t length) override
    {
        if (OpenHandle == INVALID_DRIVER_HANDLE || !Held || length > Capacity - ToApplication.size())
            return false;
        ToApplication.insert(ToApplication.end(), data, data + length);
        Writes.push_back(length);
        return true;
    }
    bool QueryStatus(PortStatus& status, bool) override
    {
        if (OpenHandle == INVALID_DRIVER_HANDLE)
            return false;
        status.OpenCount = Held ? 2 : 1;
        status.FreeSpace = Held ? static_cast<uint32_t>(Capacity - ToApplication.size()) : 0;
        return true;
    }
    Wait WaitFor(bool wantRead, bool wantWrite, bool) override
    {
        Wait wait;
        if (OpenHandle == INVALID_DRIVER_HANDLE || !Held)
            return wait;
        wait.Fd = Pipes.back().first.Get();
        wait.Events = wantRead ? POLLIN : 0;
        wait.Now = wantWrite && ToApplication.size() < Capacity;
        return wait;
    }
    bool TakeOpenNotice() override { return std::exchange(Opened, false); }
    bool SetLineReports(bool on) override
    {
        Reports = on;
        return true;
    }
    LineEvent TakeLineEvents() override { return Reports ? std::exchange(Events, LineEvent::None) : LineEvent::None; }
    bool ReadLineSettings(LineSettings& out) override
    {
        out = Line;
        return OpenHandle != INVALID_DRIVER_HANDLE;
    }

private:
    // The pipe of the current hold holds one byte while the application's bytes wait.
    void Signal()
    {
        if (Pipes.empty() || !Pipes.back().second.Valid())
            return;
        const int in = Pipes.back().first.Get();
        uint8_t byte = 0;
        pollfd readable {in, POLLIN, 0};
        const bool signalled = poll(&readable, 1, 0) == 1 && (readable.revents & POLLIN);
        if (!FromApplication.empty() && !signalled)
            [[maybe_unused]] auto n = write(Pipes.back().second.Get(), &byte, 1);
        else if (FromApplication.empty() && signalled)
            [[maybe_unused]] auto n = read(in, &byte, 1);
    }

    std::vector<std::pair<UniqueFd, UniqueFd>> Pipes; // read end, write end (gone on release)
    std::deque<uint8_t> FromApplication;
    std::deque<uint8_t> ToApplication;
    bool Held = false;
    bool Opened = false;
    bool Reports = false;
    DriverHandle Opens = 0;
    DriverHandle OpenHandle = INVALID_DRIVER_HANDLE;
};

} // namespace qlntest
