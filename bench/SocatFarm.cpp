// socat doing the console's job: one process per port, its pseudo-terminal on one
// side and the port's one link on the other. socat serves one link per port, and a
// listening socat serves one client; a case asks for nothing more of it.
#include "Bridge.h"
#include "TlsPeer.h"

namespace bench {

namespace {

std::string PtyLink(const JobPort& port)
{
    return TempRoot + "/socatCOM" + std::to_string(port.Number);
}

std::vector<std::string> SocatArguments(const JobPort& port, const std::string& ptyLink)
{
    std::vector<std::string> args;
    // socat's own raw dumps: one file per direction, the bytes as they passed.
    if (!port.LogFile.empty())
        args.insert(args.end(), {"-r", port.LogFile + ".to-net", "-R", port.LogFile + ".to-app"});
    args.push_back("PTY,link=" + ptyLink + ",raw,echo=0");
    if (port.Links.size() != 1)
        Fail("socat serves one link per port");
    const JobLink& link = port.Links[0];
    const std::string number = std::to_string(link.Port);
    switch (link.Type) {
    case JobLink::TcpClient:
        args.push_back(link.Tls ? "OPENSSL:127.0.0.1:" + number + ",cafile=" + BenchTlsFiles().Ca : "TCP:127.0.0.1:" + number);
        break;
    case JobLink::TcpServer:
        args.push_back(link.Tls ? "OPENSSL-LISTEN:" + number + ",bind=127.0.0.1,reuseaddr,verify=0,cert="
                                      + BenchTlsFiles().Cert + ",key=" + BenchTlsFiles().Key
                                : "TCP-LISTEN:" + number + ",bind=127.0.0.1,reuseaddr");
        break;
    case JobLink::Udp:
        Fail("the benchmark gives socat no UDP link");
    }
    return args;
}

} // namespace

std::string SocatCommand(const JobPort& port, const std::string& ptyLink)
{
    std::string command = "socat";
    for (auto& arg : SocatArguments(port, ptyLink))
        command += " " + arg;
    return command;
}

Served StartSocat(const Job& job, const std::string& socat)
{
    Served served;
    for (auto& port : job.Ports) {
        std::string link = PtyLink(port);
        unlink(link.c_str()); // a stale link would be opened before socat replaced it
        served.Pids.push_back(StartChild(socat, SocatArguments(port, link)));
        served.AppPaths.push_back(link);
    }
    return served;
}

} // namespace bench
