// Implements CPortObject: construction, destruction, accessors and the driver handle.
#include "forwarding/PortObject.h"

CPortObject::CPortObject(int32_t portNumber, CCriticalSection* managerLock, HostResolver* resolver)
    : PortNumber(portNumber), ManagerLock(managerLock), HostNames(resolver)
{
    Log.SetPortName(Name());
}

void CPortObject::SetWait(ReadinessWait* wait)
{
    QLN_ASSERT_HELD(ManagerLock);
    Wait = wait;
}

CPortObject::~CPortObject()
{
    for (auto& link : NetLinks)
        link->DiscardBacklog("the console stops");
    while (!NetLinks.empty())
        RemoveLink(NetLinks.front().get());
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
    return DriverHandleValue;
}

CPortObject::NetLinkList& CPortObject::GetNetLinks()
{
    CGuard guard(ManagerLock);
    return NetLinks;
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
    return Log.Mode();
}

void CPortObject::SetLogMode(int32_t mode)
{
    CGuard guard(ManagerLock);
    Log.SetMode(mode);
}

bool CPortObject::GetLogTimestamps()
{
    CGuard guard(ManagerLock);
    return Log.Timestamps();
}

void CPortObject::SetLogTimestamps(bool on)
{
    CGuard guard(ManagerLock);
    Log.SetTimestamps(on);
}

void CPortObject::AddTap(std::shared_ptr<TrafficTap> tap)
{
    CGuard guard(ManagerLock);
    if (tap)
        Taps.push_back(std::move(tap));
}

void CPortObject::RemoveTap(const TrafficTap* tap)
{
    CGuard guard(ManagerLock);
    std::erase_if(Taps, [tap](const auto& held) { return held.get() == tap; });
}

std::string CPortObject::GetLogFilename()
{
    CGuard guard(ManagerLock);
    return Log.FileName();
}

TrafficLogState CPortObject::GetLogState()
{
    CGuard guard(ManagerLock);
    return Log.State();
}

int CPortObject::OpenDriver()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (DriverHandleValue != INVALID_DRIVER_HANDLE)
        return 1;
    DriverHandleValue = PortDriver::Instance().Open(PortNumber);
    // The device may be a new one since the handle was last open.
    UpdateLineReports();
    return DriverHandleValue != INVALID_DRIVER_HANDLE ? 1 : 0;
}

void CPortObject::CloseDriver()
{
    if (DriverHandleValue == INVALID_DRIVER_HANDLE)
        return;
    PortDriver::Instance().Close(DriverHandleValue);
    DriverHandleValue = INVALID_DRIVER_HANDLE;
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
    Log.SetFileName(name ? name : "");
}

void CPortObject::WriteLog(bool inbound, const uint8_t* data, uint32_t count)
{
    CGuard guard(ManagerLock);
    Log.Write(inbound, data, count);
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
    return PortDriver::Instance().QueryStatus(DriverHandleValue, status);
}

bool CPortObject::IsOpenedByApplication()
{
    PortStatus status {};
    return QueryStatus(&status) && status.OpenCount > 1;
}

bool CPortObject::ReadLineSettings(LineSettings& settings)
{
    return PortDriver::Instance().ReadLineSettings(DriverHandleValue, settings);
}

bool IsOpenedByApplication(CPortObject* port)
{
    return port && port->IsOpenedByApplication();
}

bool QueryStatus(CPortObject* port, PortStatus* status)
{
    return port && port->QueryStatus(status);
}
