#pragma once
// A console window whose configuration file the test writes and reads, and plain
// descriptions of ports, links and tree nodes to compare.
#include <map>
#include <string>
#include <vector>

#include "links/NetObject.h"
#include "platform/config/AtomicFile.h"
#include "forwarding/PortObject.h"
#include "UiTestSupport.h"

namespace qlnui {

class SettingsTest : public WindowTest {
protected:
    // Where the window keeps its file in a test: the private ConfigHome()/quillon.
    std::string ConfigPath() const { return Home.Root + "/config/quillon/QuillonConsole.ini"; }

    void WriteConfig(const std::string& text)
    {
        ASSERT_TRUE(MakeFolders(Home.Root + "/config/quillon"));
        ASSERT_EQ(ReplaceFileAtomically(ConfigPath(), text).Text(), "");
    }

    // `text` with every placeholder of `fill` replaced.
    static std::string Fill(std::string text, const std::map<std::string, std::string>& fill)
    {
        for (const auto& [from, to] : fill) {
            for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
        }
        return text;
    }

    // "client host:port auto=A every=N", "server P" or "udp P>host:port".
    std::string Describe(const CNetObject& link)
    {
        CGuard guard(Lock());
        const std::string remote = link.Settings().RemoteAddr + ":" + std::to_string(link.Settings().RemotePort);
        switch (link.Type) {
        case NetKind::TcpClient:
            return "client " + remote + " auto=" + std::to_string(link.Settings().AutoReconnect ? 1 : 0)
                + " every=" + std::to_string(link.Settings().ReconnectIntervalTime);
        case NetKind::TcpServer:
            return "server " + std::to_string(link.Settings().LocalPort);
        case NetKind::Udp:
            return "udp " + std::to_string(link.Settings().LocalPort) + ">" + remote;
        default:
            return "kind " + std::to_string(static_cast<int32_t>(link.Type));
        }
    }

    std::vector<std::string> DescribeLinks(CPortObject* port)
    {
        CGuard guard(Lock());
        std::vector<std::string> out;
        for (const auto& link : port->GetNetLinks())
            out.push_back(Describe(*link));
        return out;
    }

    // Every port in tree order with its options and links.
    std::vector<std::string> DescribePorts()
    {
        std::vector<std::string> out;
        for (int i = 0; i < Tree().topLevelItemCount(); ++i) {
            CPortObject* port = PortOf(PortNode(i));
            std::string text = "COM" + std::to_string(port->GetPortNumber()) + " send="
                + std::to_string(port->GetSendToNetDelayTime()) + " receive="
                + std::to_string(port->GetReceiveFromNetDelayTime()) + " log=" + port->GetLogFilename()
                + " mode=" + std::to_string(port->GetLogMode());
            for (const std::string& link : DescribeLinks(port))
                text += " | " + link;
            out.push_back(text);
        }
        return out;
    }

    // The texts of all nodes in tree order, links indented, without the state or
    // client count in front (those follow the network, not the configuration).
    std::vector<QString> TreeTexts()
    {
        std::vector<QString> out;
        for (int i = 0; i < Tree().topLevelItemCount(); ++i) {
            out.push_back(PortNode(i)->text(0));
            for (int j = 0; j < PortNode(i)->childCount(); ++j) {
                QString text = PortNode(i)->child(j)->text(0);
                if (text.startsWith('('))
                    text = text.mid(text.indexOf(')') + 1);
                out.push_back("  " + text);
            }
        }
        return out;
    }
};

} // namespace qlnui
