#pragma once
#include <cstdint>
#include <optional>

// The kind of a link; also the number stored under "Type" in the configuration.
// Switches over it have no default, so the compiler lists every place a new kind
// must be handled.
enum class NetKind : int32_t { TcpClient = 1, TcpServer = 2, Udp = 3 };

// The kind a stored "Type" number names, or none for any other number.
inline std::optional<NetKind> NetKindFromNumber(int32_t number)
{
    const auto kind = static_cast<NetKind>(number);
    switch (kind) {
    case NetKind::TcpClient:
    case NetKind::TcpServer:
    case NetKind::Udp:
        return kind;
    }
    return std::nullopt;
}

// A TCP client link's wait between connection attempts until it is told otherwise,
// in milliseconds (a new link, and a stored link without the setting).
constexpr int32_t DefaultReconnectInterval = 5000;

// The connection state of a TCP stream socket, and so of a TCP client link; the
// window shows it as "(Unconnected)", "(Connecting)", "(Connected)".
enum class LinkState : int32_t { Unconnected = 0, Connecting = 1, Connected = 2 };
