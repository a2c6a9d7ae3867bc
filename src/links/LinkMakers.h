#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "links/NetObject.h"

class PortSide;

// What builds a link of one kind for the port it is given; a null link for settings
// that make none (a port 0). The port starts and keeps what it gets, and never asks
// which kind it is: a new kind needs a maker, nothing in the port.
using LinkMaker = std::function<std::unique_ptr<CNetObject>(PortSide& port)>;

LinkMaker TcpClientMaker(std::string host, uint16_t remotePort, LinkOptions options = {});
LinkMaker TcpServerMaker(uint16_t listenPort, LinkOptions options = {});
LinkMaker UdpMaker(uint16_t localPort, std::string host, uint16_t remotePort, LinkOptions options = {});
