// Implements CPortObject: construction, destruction, accessors and the device.
#include "forwarding/PortObject.h"

#include "forwarding/PtyPortDevice.h"

CPortObject::CPortObject(int32_t portNumber, CCriticalSection* managerLock, HostResolver* resolver,
                         std::unique_ptr<PortDevice> device)
    : PortNumber(portNumber),
      ManagerLock(managerLock),
      HostNames(resolver),
      Device(device ? std::move(device) : std::make_unique<PtyPortDevice>(portNumber)),
      Links(*this, managerLock),
      Recorder("COM" + std::to_string(portNumber), Links)
{
}

void CPortObject::SetWait(ReadinessWait* wait)
{
    QLN_ASSERT_HELD(ManagerLock);
    Wait = wait;
}

CPortObject::~CPortObject()
{
    Links.RemoveAll();
    // The master outlives the port (the driver keeps it): it leaves the wait here.
    if (Wait)
        Wait->Remove(MasterRegistration);
    CloseDriver();
}

int32_t CPortObject::GetPortNumber()
{
    CGuard guard(ManagerLock);
    return PortNumber;
}

DriverHandle CPortObject::GetDriverHandle()
{
    CGuard guard(ManagerLock);
    return Device->Handle();
}

CPortObject::NetLinkList& CPortObject::GetNetLinks()
{
    CGuard guard(ManagerLock);
    return Links.List();
}

int32_t CPortObject::GetSendToNetDelayTime()
{
    CGuard guard(ManagerLock);
    return SendToNetDelayTime;
}

void CPortObject::SetSendToNetDelayTime(int32_t milliseconds)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    SendToNetDelayTime = milliseconds;
}

int32_t CPortObject::GetReceiveFromNetDelayTime()
{
    CGuard guard(ManagerLock);
    return ReceiveFromNetDelayTime;
}

void CPortObject::SetReceiveFromNetDelayTime(int32_t milliseconds)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    ReceiveFromNetDelayTime = milliseconds;
}

int32_t CPortObject::GetLogMode()
{
    CGuard guard(ManagerLock);
    return Recorder.Log().Mode();
}

void CPortObject::SetLogMode(int32_t mode)
{
    CGuard guard(ManagerLock);
    Recorder.Log().SetMode(mode);
}

bool CPortObject::GetLogTimestamps()
{
    CGuard guard(ManagerLock);
    return Recorder.Log().Timestamps();
}

void CPortObject::SetLogTimestamps(bool on)
{
    CGuard guard(ManagerLock);
    Recorder.Log().SetTimestamps(on);
}

void CPortObject::AddTap(std::shared_ptr<TrafficTap> tap)
{
    CGuard guard(ManagerLock);
    Recorder.AddTap(std::move(tap));
}

void CPortObject::RemoveTap(const TrafficTap* tap)
{
    CGuard guard(ManagerLock);
    Recorder.RemoveTap(tap);
}

std::string CPortObject::GetLogFilename()
{
    CGuard guard(ManagerLock);
    return Recorder.Log().FileName();
}

TrafficLogState CPortObject::GetLogState()
{
    CGuard guard(ManagerLock);
    return Recorder.Log().State();
}

Failure CPortObject::OpenDriver()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (Device->Handle() != INVALID_DRIVER_HANDLE)
        return {};
    Failure failed = Device->Open();
    // The device may be a new one since it was last open.
    UpdateLineReports();
    return failed;
}

void CPortObject::CloseDriver()
{
    if (Device->Handle() == INVALID_DRIVER_HANDLE)
        return;
    Device->Close();
    LineReportsOn = false;
}

std::string CPortObject::GetUnavailableReason()
{
    CGuard guard(ManagerLock);
    return UnavailableReason;
}

void CPortObject::SetUnavailableReason(const std::string& reason)
{
    CGuard guard(ManagerLock);
    UnavailableReason = reason;
}

size_t CPortObject::ToNetQueued()
{
    CGuard guard(ManagerLock);
    return ToNetQueue.Size();
}

size_t CPortObject::FromNetQueued()
{
    CGuard guard(ManagerLock);
    return FromNetQueue.Size();
}

uint64_t CPortObject::GetDroppedDatagrams()
{
    CGuard guard(ManagerLock);
    return DroppedDatagrams;
}

void CPortObject::SetLogFile(const char* name)
{
    CGuard guard(ManagerLock);
    Recorder.Log().SetFileName(name ? name : "");
}

void CPortObject::WriteLog(bool inbound, const uint8_t* data, uint32_t count)
{
    CGuard guard(ManagerLock);
    Recorder.Log().Write(inbound, data, count);
}

uint64_t CPortObject::GetBytesToApplication()
{
    CGuard guard(ManagerLock);
    return BytesToApplication;
}

uint64_t CPortObject::GetBytesFromApplication()
{
    CGuard guard(ManagerLock);
    return BytesFromApplication;
}

bool CPortObject::QueryStatus(PortStatus* status)
{
    CGuard guard(ManagerLock);
    return status && Device->QueryStatus(*status, true);
}

bool CPortObject::IsOpenedByApplication()
{
    PortStatus status {};
    return QueryStatus(&status) && status.OpenCount > 1;
}

bool CPortObject::ReadLineSettings(LineSettings& settings)
{
    return Device->ReadLineSettings(settings);
}

bool IsOpenedByApplication(CPortObject* port)
{
    return port && port->IsOpenedByApplication();
}

bool QueryStatus(CPortObject* port, PortStatus* status)
{
    return port && port->QueryStatus(status);
}
