#pragma once
#include "forwarding/PortDevice.h"

// COM<n> of the pseudo-terminal driver (PortDriver::Instance()). Owns the console's
// handle on the device while open and closes it when it goes.
class PtyPortDevice final : public PortDevice {
public:
    explicit PtyPortDevice(int number) : Number(number) {}
    PtyPortDevice(const PtyPortDevice&) = delete;
    PtyPortDevice& operator=(const PtyPortDevice&) = delete;
    ~PtyPortDevice() override { Close(); }

    Failure Open() override;
    void Close() override;
    DriverHandle Handle() const override { return HandleValue; }
    ReadOutcome Read(uint8_t* buffer, uint32_t capacity) override;
    bool Write(const uint8_t* data, uint32_t length) override;
    bool QueryStatus(PortStatus& status, bool look) override;
    Wait WaitFor(bool wantRead, bool wantWrite, bool refresh) override;
    bool TakeOpenNotice() override;
    bool SetLineReports(bool on) override;
    LineEvent TakeLineEvents() override;
    bool ReadLineSettings(LineSettings& out) override;

private:
    const int Number;
    DriverHandle HandleValue = INVALID_DRIVER_HANDLE;
};
