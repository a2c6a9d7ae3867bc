// Implements the makers of the three link kinds.
#include "links/LinkMakers.h"

#include "links/TcpClientLink.h"
#include "links/TcpServerLink.h"
#include "links/UdpLink.h"

LinkMaker TcpClientMaker(std::string host, uint16_t remotePort, LinkOptions options)
{
    return [host = std::move(host), remotePort, options = std::move(options)](
               PortSide& port) -> std::unique_ptr<CNetObject> {
        if (remotePort == 0)
            return nullptr;
        return std::make_unique<TcpClientLink>(port, host.c_str(), remotePort, options);
    };
}

LinkMaker TcpServerMaker(uint16_t listenPort, LinkOptions options)
{
    return [listenPort, options = std::move(options)](PortSide& port) -> std::unique_ptr<CNetObject> {
        if (listenPort == 0)
            return nullptr;
        return std::make_unique<TcpServerLink>(port, listenPort, options);
    };
}

LinkMaker UdpMaker(uint16_t localPort, std::string host, uint16_t remotePort, LinkOptions options)
{
    return [localPort, host = std::move(host), remotePort, options = std::move(options)](
               PortSide& port) -> std::unique_ptr<CNetObject> {
        if (localPort == 0 || remotePort == 0)
            return nullptr;
        return std::make_unique<UdpLink>(port, localPort, host.c_str(), remotePort, options);
    };
}
