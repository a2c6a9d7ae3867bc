// The configuration file and the autorun entry of the main window. Placeholders
// until the configuration code arrives: nothing is read or written.
#include "ui/MainForm.h"

struct TAutorunKey {};
struct TConfigFile {};

void TSettingsDeleter::operator()(TAutorunKey* key) const
{
    delete key;
}

void TSettingsDeleter::operator()(TConfigFile* file) const
{
    delete file;
}

void TMainForm::OpenSettings()
{
    AutorunKey.reset(new TAutorunKey);
    ConfigFile.reset(new TConfigFile);
}

bool TMainForm::AutorunValueExists()
{
    return false;
}

bool TMainForm::MinimizeWhenRunStored()
{
    return false;
}

// Until the file is read: every port with its defaults and no links.
void TMainForm::LoadSettings()
{
    CGuard guard(GetManager()->Lock());
    CQLNManager::PortList ports;
    GetManager()->CopyPorts(&ports);
    for (CPortObject* port : ports)
        AddPortNode(port);
}

void TMainForm::SavePortSettings(CPortObject* port)
{
    (void)port;
}

void TMainForm::ErasePortSettings(int32_t number)
{
    (void)number;
}

void TMainForm::MinimizeWhenRunCheckBoxClick()
{
}

void TMainForm::AutoRunWhenLoginCheckBoxClick()
{
}
