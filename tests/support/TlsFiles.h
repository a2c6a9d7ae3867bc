#pragma once
// Certificates for TLS tests, made once per test program by the openssl command line
// in a temporary folder: a CA, a server and a client it signed, a self-signed device,
// and a second CA with a client of its own. EC P-256 keys, mode 0600.
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "Files.h"
#include "SerialPeers.h"
#include "TempFolder.h"

namespace qlntest {

struct TlsFiles {
    struct Pair {
        std::string Cert, Key, Pin; // PEM files; Pin: the SHA-256 fingerprint as openssl prints it
    };
    Pair Ca, Server, Client, Self, OtherCa, OtherClient;
    bool Made = false;
    std::string Why; // what went wrong when not Made

    std::string File(const std::string& name) const { return Folder.File(name); }

    // The files of this program's tests; made on first use.
    static const TlsFiles& Get()
    {
        static const TlsFiles files;
        return files;
    }

private:
    TlsFiles() { Made = Make(); }

    bool Run(const std::vector<std::string>& words)
    {
        PeerProcess openssl(words, Folder.File("openssl.out"));
        if (openssl.Started() && openssl.WaitExit(60.0) == 0)
            return true;
        Why = words[1] + " " + words[2] + ": " + FileText(Folder.File("openssl.out"));
        return false;
    }
    // A key and a certificate for `subject`: self-signed (a CA, or a device when
    // `ca` is false), or signed by `issuer`.
    bool MakePair(Pair& pair, const std::string& name, const std::string& subject, const Pair* issuer, bool ca,
                  const std::string& altNames = {})
    {
        pair.Cert = Folder.File(name + ".pem");
        pair.Key = Folder.File(name + ".key");
        const std::string ext = Folder.File(name + ".ext");
        WriteFileText(ext, std::string(ca ? "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
                                          : "basicConstraints=CA:FALSE\n")
                               + (altNames.empty() ? "" : "subjectAltName=" + altNames + "\n"));
        const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                                              "-keyout", pair.Key, "-subj", subject};
        std::vector<std::string> words = {"openssl", "req"};
        if (!issuer) {
            words.insert(words.end(), {"-x509", "-days", "30", "-out", pair.Cert, "-extensions", "v3", "-config", ext});
            WriteFileText(ext, "[req]\ndistinguished_name=dn\n[dn]\n[v3]\n" + FileText(ext));
        } else {
            words.insert(words.end(), {"-out", Folder.File(name + ".csr")});
        }
        words.insert(words.end(), key.begin(), key.end());
        if (!Run(words))
            return false;
        if (issuer && !Run({"openssl", "x509", "-req", "-in", Folder.File(name + ".csr"), "-CA", issuer->Cert, "-CAkey",
                            issuer->Key, "-CAcreateserial", "-days", "30", "-out", pair.Cert, "-extfile", ext}))
            return false;
        chmod(pair.Key.c_str(), 0600);
        PeerProcess print({"openssl", "x509", "-in", pair.Cert, "-noout", "-fingerprint", "-sha256"},
                          Folder.File(name + ".pin"));
        print.WaitExit(30.0);
        const std::string line = FileText(Folder.File(name + ".pin"));
        const size_t eq = line.find('=');
        pair.Pin = eq == std::string::npos ? std::string() : line.substr(eq + 1, 95);
        return pair.Pin.size() == 95 || (Why = "no fingerprint of " + name, false);
    }
    bool Make()
    {
        const std::string local = "DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1";
        return MakePair(Ca, "ca", "/CN=Quillon Test CA", nullptr, true)
            && MakePair(Server, "server", "/CN=localhost", &Ca, false, local)
            && MakePair(Client, "client", "/CN=client/O=Plant", &Ca, false)
            && MakePair(Self, "self", "/CN=device", nullptr, false, local)
            && MakePair(OtherCa, "otherca", "/CN=Other CA", nullptr, true)
            && MakePair(OtherClient, "otherclient", "/CN=stranger", &OtherCa, false);
    }

    TempFolder Folder;
};

} // namespace qlntest
