#pragma once
#include <memory>
#include <vector>

#include "links/Stage.h"
#include "net/ComPortSession.h"

class CNetObject;
class PortSide;

// The stages of a new connection of `link`, lowest first, chosen from the link's
// options: none for raw bytes; TLS for a link marked TLS; above it, Telnet with line
// control for a link marked RFC 2217.
// The one place where a connection's stack is decided.
std::vector<std::unique_ptr<Stage>> MakeStages(const CNetObject& link, ComPortSession::Role role, PortSide& port);
