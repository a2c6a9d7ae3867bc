// Implements TelnetStage: a connection's Telnet and line control.
#include "links/TelnetStage.h"

#include <algorithm>

TelnetStage::TelnetStage(ComPortSession::Role role, ComPortSession::SettingsReader read, bool applicationPresent)
    : Role(role), Session(role, std::move(read)), Present(applicationPresent)
{
}

void TelnetStage::Open(Bytes& down)
{
    Session.SetApplicationPresent(Present, down);
    Session.Start(down);
}

void TelnetStage::FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down)
{
    Session.Receive(bytes, count, up, down);
    const uint8_t purge = Role == ComPortSession::Role::Server ? Session.TakePurgeRequest() : 0;
    if (purge & ComPortSession::PurgeReceive) {
        // What the application sent that waits for this client; a block already let
        // go is on its way and stays.
        Held.clear();
        HeldSent = 0;
    }
    if (purge & ComPortSession::PurgeTransmit)
        DropUp = true;
}

void TelnetStage::FromAbove(const uint8_t* data, size_t count, Bytes& down)
{
    if (count == 0)
        return;
    if (TransmitEmpty) {
        TransmitEmpty = false;
        Session.SetTransmitEmpty(false, down);
    }
    ComPortSession::EncodeData(data, count, Held);
}

size_t TelnetStage::DownSize(const uint8_t* data, size_t count) const
{
    return ComPortSession::EncodedSize(data, count);
}

void TelnetStage::Release(Bytes& down)
{
    if (Holding() == 0) {
        Held.clear();
        HeldSent = 0;
        if (!TransmitEmpty) {
            TransmitEmpty = true;
            Session.SetTransmitEmpty(true, down);
        }
        return;
    }
    if (Session.Suspended())
        return;
    size_t block = std::min(Holding(), ReleaseBlock);
    // A block never ends between the two bytes of an escaped 0xFF: the session's own
    // messages may follow it on the wire, and a lone IAC would make the first of them
    // data. Every run of IAC bytes held is whole pairs from where a block starts.
    size_t iacs = 0;
    while (iacs < block && Held[HeldSent + block - 1 - iacs] == TelnetCodec::IAC)
        ++iacs;
    if (iacs % 2 == 1)
        ++block;
    const auto from = Held.begin() + static_cast<std::ptrdiff_t>(HeldSent);
    down.insert(down.end(), from, from + static_cast<std::ptrdiff_t>(block));
    HeldSent += block;
    if (HeldSent == Held.size()) {
        Held.clear();
        HeldSent = 0;
    } else if (HeldSent >= 4 * ReleaseBlock) {
        Held.erase(Held.begin(), Held.begin() + static_cast<std::ptrdiff_t>(HeldSent));
        HeldSent = 0;
    }
}

void TelnetStage::Service(Bytes& down)
{
    if (SettingsDue)
        Session.SettingsChanged(down);
    if (PurgeDue)
        Session.Purge(PurgeDue, down);
    if (PresenceDue)
        Session.SetApplicationPresent(Present, down);
    SettingsDue = false;
    PurgeDue = 0;
    PresenceDue = false;
}

bool TelnetStage::TakeDropRequest()
{
    const bool drop = DropUp;
    DropUp = false;
    return drop;
}

void TelnetStage::PortChanged(const PortNews& news)
{
    // A client tells the far port of the application's changes; a server tells its
    // client whether an application is there.
    if (Role == ComPortSession::Role::Client) {
        SettingsDue |= news.SettingsChanged;
        PurgeDue |= news.Purged;
    } else if (news.ApplicationPresent && *news.ApplicationPresent != Present) {
        Present = *news.ApplicationPresent;
        PresenceDue = true;
    }
}

const ReportedLine* TelnetStage::FarLine() const
{
    return Role == ComPortSession::Role::Client ? &Session.Reported() : nullptr;
}

std::string TelnetStage::Note() const
{
    return Role == ComPortSession::Role::Server ? ComPortSession::AskedText(Session.ClientLine()) : std::string();
}
