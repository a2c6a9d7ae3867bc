#include "TlsPeer.h"

namespace bench {

namespace {

void Run(const std::vector<std::string>& args)
{
    const pid_t pid = StartChild(FindProgram("openssl"), args);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("openssl " + args[0] + " failed");
    for (int i = 0; i < MaxChildren; ++i)
        if (Children[i] == pid)
            Children[i] = 0;
}

// Whether a socket of either family listens on `port`, as /proc/net says: asking
// without touching the port, which a probe of its own could take from a listener
// about to bind it.
bool Listening(uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream table(path);
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            if (fields >> slot >> local >> remote >> state && state == "0A" && local.ends_with(wanted))
                return true;
        }
    }
    return false;
}

} // namespace

void WaitListening(uint16_t port, pid_t pid, const std::string& what)
{
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!Listening(port)) {
        if ((pid > 0 && !ChildAlive(pid)) || Clock::now() > end)
            Fail(what + " does not listen on " + std::to_string(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

const TlsFiles& BenchTlsFiles()
{
    static TlsFiles files;
    if (!files.Ca.empty())
        return files;
    const std::string folder = TempRoot + "/tls";
    std::filesystem::create_directories(folder);
    const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
    std::vector<std::string> ca = {"req", "-x509", "-days", "2", "-subj", "/CN=bench CA", "-keyout", folder + "/ca.key",
                                   "-out", folder + "/ca.pem", "-addext", "basicConstraints=critical,CA:TRUE"};
    ca.insert(ca.end(), key.begin(), key.end());
    Run(ca);
    std::vector<std::string> request = {"req", "-subj", "/CN=127.0.0.1", "-keyout", folder + "/server.key", "-out",
                                        folder + "/server.csr"};
    request.insert(request.end(), key.begin(), key.end());
    Run(request);
    std::ofstream(folder + "/server.ext") << "subjectAltName=IP:127.0.0.1\n";
    Run({"x509", "-req", "-in", folder + "/server.csr", "-CA", folder + "/ca.pem", "-CAkey", folder + "/ca.key",
         "-CAcreateserial", "-days", "2", "-extfile", folder + "/server.ext", "-out", folder + "/server.pem"});
    chmod((folder + "/server.key").c_str(), 0600);
    files = {folder + "/ca.pem", folder + "/server.pem", folder + "/server.key"};
    return files;
}

pid_t StartTlsServerRelay(const std::string& socat, uint16_t tlsPort, uint16_t plainPort)
{
    const TlsFiles& files = BenchTlsFiles();
    const pid_t pid = StartChild(socat, {"-b", "131072",
                                         "OPENSSL-LISTEN:" + std::to_string(tlsPort) + ",bind=127.0.0.1,reuseaddr,verify=0,cert="
                                             + files.Cert + ",key=" + files.Key,
                                         "TCP:127.0.0.1:" + std::to_string(plainPort)});
    WaitListening(tlsPort, pid, "the TLS relay of a TCP client link");
    return pid;
}

pid_t StartTlsClientRelay(const std::string& socat, uint16_t plainPort, uint16_t tlsPort)
{
    const pid_t pid = StartChild(socat, {"-b", "131072",
                                         "TCP-LISTEN:" + std::to_string(plainPort) + ",bind=127.0.0.1,reuseaddr",
                                         "OPENSSL:127.0.0.1:" + std::to_string(tlsPort) + ",cafile=" + BenchTlsFiles().Ca});
    WaitListening(plainPort, pid, "the TLS relay of a client of a TCP server link");
    return pid;
}

} // namespace bench
