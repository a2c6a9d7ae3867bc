// Implements CPortObject's side of the pump's wait: what each of its descriptors is
// waited on for, what the wait reported, and when the port is due by time.
#include <sys/epoll.h>

#include "forwarding/PortObject.h"
#include "links/LinkWaits.h"
#include "platform/base/TickCount.h"

namespace {

// How often a port looks for an application where the system gives no open notice.
constexpr int32_t OpenLookInterval = 50;

} // namespace

void CPortObject::OpenNoticeArrived()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (Device->Handle() != INVALID_DRIVER_HANDLE && Device->TakeOpenNotice())
        LookingForApplication = true;
}

bool CPortObject::IsDue(int32_t now) const
{
    return Reports.Reported || (HasDue && TickElapsed(now, Due, 0));
}

void CPortObject::DueBy(int32_t tick)
{
    if (!HasDue || TickDiff(tick, Due) < 0)
        Due = tick;
    HasDue = true;
}

void CPortObject::ArmWaits()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!Wait)
        return;
    const int32_t now = GetTickCount32();
    HasDue = false;

    // The application's side.
    bool deliverable = false;
    if (!FromNetQueue.IsEmpty()) {
        if (TickElapsed(now, FromNetStamp, ReceiveFromNetDelayTime))
            deliverable = true;
        else
            DueBy(TickAfter(FromNetStamp, ReceiveFromNetDelayTime));
    }
    const DriverHandle handle = Device->Handle();
    PortDevice::Wait device;
    if (handle != INVALID_DRIVER_HANDLE) {
        // An application that let go shows as a hang-up of the master; one that took
        // the port shows through the open notice.
        const bool refresh = (Master.Events & (EPOLLHUP | EPOLLERR)) || LookingForApplication;
        device = Device->WaitFor(ToNetQueue.IsEmpty(), deliverable, refresh);
        if (device.Now)
            DueBy(now);
        if (device.Poll)
            DueBy(TickAfter(now, OpenLookInterval));
    }
    const uint32_t masterEvents = device.Fd < 0 ? 0 : (device.Events ? static_cast<uint32_t>(device.Events) : EPOLLHUP);
    // The master stays open with the driver when the application lets go or the
    // handle is closed, so its registration does not go by itself: it is taken out
    // of the wait, or it would be reported for ever.
    if (MasterRegistration.Registered()
        && (device.Fd != MasterRegistration.Descriptor()
            || MasterRegistration.OpeningNumber() != static_cast<uint64_t>(handle)))
        Wait->Remove(MasterRegistration);
    Wait->Update(MasterRegistration, device.Fd, static_cast<uint64_t>(handle), masterEvents, &Master, &Reports);
    Master.Events = 0;
    // An application that opened the port, wrote and let go before the port looked
    // left its bytes behind with no hang-up to tell of them: the drain reads them
    // (one read that finds nothing when there are none).
    if (LookingForApplication && device.Fd < 0 && handle != INVALID_DRIVER_HANDLE)
        Draining = true;
    LookingForApplication = device.Poll;
    // The links hear of an application that came or went; what they owe their peers
    // goes in the next step, at once.
    if ((device.Fd >= 0) != ApplicationHeld) {
        NoteApplication(device.Fd >= 0);
        DueBy(now);
    }

    // The network's side.
    bool chunkDue = false;
    if (!ToNetQueue.IsEmpty()) {
        if (TickElapsed(now, ToNetStamp, SendToNetDelayTime))
            chunkDue = true;
        else
            DueBy(TickAfter(ToNetStamp, SendToNetDelayTime));
    }
    // The step offers the chunk before it polls: a peer that came up in it takes the
    // chunk, and what its link kept while it was down, in the next step, at once.
    if (PeerUp)
        DueBy(now);
    // The application let go with bytes still in the port: the step reads them, a
    // chunk at a time, until the driver says they are all out. The master's hang-up
    // is reported for as long as nobody holds the port, so the step drives the drain,
    // not the wait.
    if (Draining && ToNetQueue.IsEmpty())
        DueBy(now);
    PeerUp = false;

    LinkWaits waits(*Wait, Reports, now, FromNetFull(), chunkDue);
    const bool again = Links.ArmWaits(waits);
    if (chunkDue && again)
        DueBy(now);
    if (waits.HasDue)
        DueBy(waits.Due);
    Reports.Reported = false;
}

void CPortObject::StopWaiting()
{
    QLN_ASSERT_HELD(ManagerLock);
    // The master outlives the port (the driver keeps it); the sockets leave the wait
    // as they close.
    if (Wait)
        Wait->Remove(MasterRegistration);
}
