#pragma once

// The one message the device code shows itself ("Require reboot!"). The window sets
// the function to show a box owned by `owner` with `caption` and the warning icon;
// until then, and in tests, the default writes the text to stderr.
// Window thread only.
using DeviceMessageFunction = void (*)(void* owner, const char* text, const char* caption);

extern DeviceMessageFunction ShowDeviceMessage;

// The default: "<caption>: <text>" on stderr.
void PrintDeviceMessage(void* owner, const char* text, const char* caption);
