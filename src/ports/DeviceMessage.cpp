#include "ports/DeviceMessage.h"

#include <cstdio>

DeviceMessageFunction ShowDeviceMessage = PrintDeviceMessage;

void PrintDeviceMessage(void* /*owner*/, const char* text, const char* caption)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}
