// Implements LinkWaits: a link's sockets in the pump's wait.
#include "links/LinkWaits.h"

#include "net/Socket.h"
#include "platform/base/TickCount.h"

void LinkWaits::Watch(CSocket& socket, uint32_t events)
{
    Wait.Update(socket.Registration, socket.GetHandle(), socket.GetOpening(), events, &socket.Given, &Port);
    socket.ClearReadiness();
}

void LinkWaits::DueBy(int32_t tick)
{
    if (!HasDue || TickDiff(tick, Due) < 0)
        Due = tick;
    HasDue = true;
}
