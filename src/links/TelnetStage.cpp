// Implements TelnetStage: a connection's Telnet and line control.
#include "links/TelnetStage.h"

TelnetStage::TelnetStage(ComPortSession::Role role, ComPortSession::SettingsReader read)
    : Session(role, std::move(read))
{
}

void TelnetStage::Open(Bytes& down)
{
    Session.Start(down);
}

void TelnetStage::FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down)
{
    Session.Receive(bytes, count, up, down);
}

void TelnetStage::FromAbove(const uint8_t* data, size_t count, Bytes& down)
{
    ComPortSession::EncodeData(data, count, down);
}

size_t TelnetStage::DownSize(const uint8_t* data, size_t count) const
{
    return ComPortSession::EncodedSize(data, count);
}

void TelnetStage::Service(Bytes& down)
{
    if (SettingsDue)
        Session.SettingsChanged(down);
    if (PurgeDue)
        Session.Purge(PurgeDue, down);
    SettingsDue = false;
    PurgeDue = 0;
}

void TelnetStage::LineChanged(const LineNews& news)
{
    SettingsDue |= news.SettingsChanged;
    PurgeDue |= news.Purged;
}
