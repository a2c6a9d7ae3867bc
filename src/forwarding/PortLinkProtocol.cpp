// Implements CPortObject's line control (RFC 2217) on TCP links: sessions started with
// each connection, chunks encoded into the connection's wire buffer, received bytes
// decoded before they reach the port, and the application's line reports handed to
// the TCP client links.
#include <algorithm>
#include <vector>

#include "forwarding/DriverInterface.h"
#include "forwarding/PortObject.h"

namespace {

// Hands what the connection owes its peer to the socket. A send that moved bytes or
// found the connection broken is work; one that would block sets `waitsWritable`.
int32_t Flush(CClientSocket& socket, LinkProtocol& protocol, bool& waitsWritable)
{
    if (protocol.Pending() == 0 || socket.GetState() != Connected)
        return 0;
    int32_t sent = 0;
    const bool ok = socket.Send(protocol.Next(), static_cast<int32_t>(protocol.Pending()), &sent);
    protocol.Took(static_cast<size_t>(std::max(sent, 0)));
    if (ok || socket.GetState() != Connected)
        return 1;
    waitsWritable = true;
    return sent > 0 ? 1 : 0;
}

// The application's changes that waited for room, once there is room.
void EmitDue(LinkProtocol& protocol)
{
    if (!protocol.Fits(0) || (!protocol.SettingsDue && !protocol.PurgeDue))
        return;
    if (protocol.SettingsDue)
        protocol.Session.SettingsChanged(protocol.Wire);
    if (protocol.PurgeDue)
        protocol.Session.Purge(protocol.PurgeDue, protocol.Wire);
    protocol.SettingsDue = false;
    protocol.PurgeDue = 0;
}

} // namespace

ComPortSession::SettingsReader CPortObject::LineReader()
{
    return [this](LineSettings& settings) { return ReadLineSettings(this, settings); };
}

void CPortObject::StartProtocol(std::unique_ptr<LinkProtocol>& slot, ComPortSession::Role role)
{
    QLN_ASSERT_HELD(ManagerLock);
    slot = std::make_unique<LinkProtocol>(role, LineReader());
    slot->Session.Start(slot->Wire);
}

LinkProtocol* CPortObject::ProtocolOf(CNetObject& link, CSocket* socket)
{
    if (link.Type == TcpClient)
        return link.Rfc2217 ? link.Protocol.get() : nullptr;
    // An accepted client keeps the way it was accepted with, also after an edit of
    // its link handed it over. Linear in the link's clients; fine for the few a
    // serial port has.
    for (AcceptedClient& client : link.Clients)
        if (client.Socket.get() == socket)
            return client.Protocol.get();
    return nullptr;
}

bool CPortObject::WireBacklog(const LinkProtocol* protocol)
{
    return protocol && protocol->Pending() >= LinkProtocol::WireFull;
}

int32_t CPortObject::OfferEncoded(CClientSocket& socket, LinkProtocol& protocol, const uint8_t* chunk,
                                  uint32_t length, uint32_t& taken, bool& waitsWritable, bool& refused,
                                  uint64_t& bytesSent)
{
    int32_t work = Flush(socket, protocol, waitsWritable);
    EmitDue(protocol);
    // Taken whole or not at all: `taken` counts the application's bytes, never the
    // escaped ones. Escaping at most doubles them, so the exact size is counted only
    // when the wire is near full.
    const uint32_t rest = length - taken;
    if (protocol.Session.Suspended()
        || (!protocol.Fits(2 * size_t(rest)) && !protocol.Fits(ComPortSession::EncodedSize(chunk + taken, rest)))) {
        refused = true;
        return work;
    }
    ComPortSession::EncodeData(chunk + taken, length - taken, protocol.Wire);
    bytesSent += length - taken;
    taken = length;
    // A connection that just refused more waits for room before it is offered again.
    return 1 + (waitsWritable ? 0 : Flush(socket, protocol, waitsWritable));
}

int32_t CPortObject::ServeWire(CClientSocket& socket, LinkProtocol* protocol, bool& waitsWritable)
{
    if (!protocol || socket.GetState() != Connected)
        return 0;
    EmitDue(*protocol);
    return waitsWritable ? 0 : Flush(socket, *protocol, waitsWritable);
}

bool CPortObject::DecodeReceived(CNetObject& link, CSocket* socket, const uint8_t* bytes, uint32_t count,
                                 std::vector<uint8_t>& data)
{
    LinkProtocol* protocol = ProtocolOf(link, socket);
    if (!protocol)
        return false;
    data.clear();
    protocol->Session.Receive(bytes, count, data, protocol->Wire);
    return true;
}

void CPortObject::UpdateLineReports()
{
    QLN_ASSERT_HELD(ManagerLock);
    // Only a TCP client link sends the application's settings; a server link reads
    // them when asked.
    const bool want = std::any_of(NetLinks.begin(), NetLinks.end(),
                                  [](const auto& link) { return link->Type == TcpClient && link->Rfc2217; });
    if (DriverHandleValue != INVALID_DRIVER_HANDLE && want != LineReportsOn)
        LineReportsOn = SetLineReports(this, want) ? want : LineReportsOn;
}

int32_t CPortObject::TakeLineReports()
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!LineReportsOn)
        return 0;
    const uint8_t events = TakeLineEvents(this);
    if (!events)
        return 0;
    uint8_t purge = 0;
    if (events & PortDriver::FlushedInput)
        purge |= ComPortSession::PurgeReceive;
    if (events & PortDriver::FlushedOutput)
        purge |= ComPortSession::PurgeTransmit;
    for (auto& link : NetLinks) {
        if (link->Type != TcpClient || !link->Protocol || link->ClientSocket->GetState() != Connected)
            continue;
        // Handed to the session when the link serves its wire, in order after what
        // the wire already holds.
        link->Protocol->SettingsDue |= (events & PortDriver::SettingsChanged) != 0;
        link->Protocol->PurgeDue |= purge;
    }
    return 1;
}
