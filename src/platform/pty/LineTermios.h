#pragma once
#include "platform/base/LineSettings.h"

// The line settings a pseudo-terminal holds, read through its master: they are the
// application's (what it set on the slave), with any baud rate it chose, standard or
// not. The kernel keeps eight data bits and no parity on a pseudo-terminal, whatever
// the application asks for. False when the settings cannot be read.
bool ReadLineSettings(int master, LineSettings& out);
