#pragma once
#include "control/ControlCommand.h"
#include "control/ControlProtocol.h"

class ConsoleModel;

// Carries out one quillonctl command on a console model, through the calls the
// window's menu and options panels make, with their checks and messages: the
// model tells its observers and saves the configuration as it does for the window.
// A refusal is exit code 1 with the model's message (its lines joined by blanks)
// and, on the next line, its reason.
//
// `running` says whether the model is the running console's (for the status). A
// status --follow is answered with the status's facts (StatusFacts), which the
// client compares with those it had; events with the event log's kept lines.
//
// The model's thread only.
ControlReply RunControlCommand(ConsoleModel& model, const ControlCommand& command, bool running);

// Exit code 1 with `message` and `reason`, as a refusal is printed.
ControlReply RefusedReply(const std::string& message, const std::string& reason = {});
