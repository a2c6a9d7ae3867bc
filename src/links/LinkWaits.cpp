// Implements LinkWaits: a link's sockets in the pump's wait.
#include "links/LinkWaits.h"

#include "net/Socket.h"
#include "platform/base/TickCount.h"

void LinkWaits::Watch(CSocket& socket, uint32_t events)
{
    Wait.Update(socket.Registration, socket.GetHandle(), socket.GetOpening(), events, &socket.Given, &Port);
    socket.ClearReadiness();
    // From here on the wait's bits are all the next step asks of the socket: one the
    // wait took reports through it, and one that waits for nothing has nothing to
    // act on. One the wait refused keeps asking the system itself.
    socket.Given.Reported = events == 0 || socket.Registration.Registered();
}

void LinkWaits::DueBy(int32_t tick)
{
    if (!HasDue || TickDiff(tick, Due) < 0)
        Due = tick;
    HasDue = true;
}
