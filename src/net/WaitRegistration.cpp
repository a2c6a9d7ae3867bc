// Implements WaitRegistration: a descriptor's place in the pump's wait.
#include "net/WaitRegistration.h"

#include "net/ReadinessWait.h"

void WaitRegistration::Forget()
{
    if (Wait)
        Wait->Erase(*this);
}
