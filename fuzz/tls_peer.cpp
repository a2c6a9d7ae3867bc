// The TLS stage of TCP links fed a peer's bytes, as a server and as a client: before
// its handshake is done nothing goes up; once broken, it stays broken, says why and
// passes nothing more. Between a client and a server stage of the console, with the
// wire cut as the seed says and, at times, one byte of it changed: data arrives
// whole and in order, and a changed byte never brings changed data, only a stop.
#include <cstdlib>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzInput.h"
#include "links/TlsContext.h"
#include "links/TlsStage.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Contexts {
    std::shared_ptr<const TlsContext> Server, Client;
};

Contexts* Made = nullptr;

// A self-signed EC P-256 certificate and its key, in a private temporary folder.
TlsSettings MakeFiles()
{
    char folder[] = "/tmp/qln-fuzz-tls-XXXXXX";
    QLN_FUZZ_CHECK(mkdtemp(folder) != nullptr);
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    QLN_FUZZ_CHECK(key && cert);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("device"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    QLN_FUZZ_CHECK(X509_sign(cert, key, EVP_sha256()) > 0);
    TlsSettings settings;
    settings.On = true;
    settings.Cert = std::string(folder) + "/device.pem";
    settings.Key = std::string(folder) + "/device.key";
    FILE* out = std::fopen(settings.Cert.c_str(), "w");
    QLN_FUZZ_CHECK(out && PEM_write_X509(out, cert) == 1);
    std::fclose(out);
    umask(077);
    out = std::fopen(settings.Key.c_str(), "w");
    QLN_FUZZ_CHECK(out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1);
    std::fclose(out);
    settings.Pin = TlsContext::FingerprintOf(cert);
    X509_free(cert);
    EVP_PKEY_free(key);
    return settings;
}

void Feed(TlsStage& stage, const Bytes& bytes, Bytes& up, Bytes& down)
{
    const bool wasBroken = stage.Broken().Failed();
    const size_t before = up.size();
    stage.FromBelow(bytes.data(), bytes.size(), up, down);
    if (!stage.HandshakeDone())
        QLN_FUZZ_CHECK(up.empty());
    if (wasBroken)
        QLN_FUZZ_CHECK(up.size() == before && stage.Broken().Failed());
    if (stage.Broken().Failed())
        QLN_FUZZ_CHECK(!stage.Accepting());
}

void Hostile(bool server, qlnfuzz::Input& in)
{
    TlsStage stage(server ? Made->Server : Made->Client, "device");
    Bytes up, down;
    stage.Open(down);
    QLN_FUZZ_CHECK(server ? down.empty() : !down.empty());
    while (!in.Empty()) {
        const Bytes bytes = in.Span();
        Feed(stage, bytes, up, down);
    }
    // A peer without the key gets no session.
    QLN_FUZZ_CHECK(up.empty());
}

void Pair(qlnfuzz::Input& in)
{
    TlsStage client(Made->Client, "device"), server(Made->Server, "");
    Bytes toServer, toClient, atServer, atClient, sent, answered;
    client.Open(toServer);
    server.Open(toClient);
    bool changed = false;
    const Bytes greeting = in.Span();
    client.FromAbove(greeting.data(), greeting.size(), toServer); // held until the handshake is done
    sent = greeting;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        switch (op % 4) {
        case 0: {
            const size_t count = std::min<size_t>(toServer.size(), in.Word());
            Bytes part(toServer.begin(), toServer.begin() + static_cast<std::ptrdiff_t>(count));
            toServer.erase(toServer.begin(), toServer.begin() + static_cast<std::ptrdiff_t>(count));
            if ((op & 0xF0) == 0xF0 && !part.empty()) {
                part[in.Word() % part.size()] ^= static_cast<uint8_t>(1 + in.Byte() % 255);
                changed = true;
            }
            Feed(server, part, atServer, toClient);
            break;
        }
        case 1: {
            Bytes part = toClient;
            toClient.clear();
            Feed(client, part, atClient, toServer);
            break;
        }
        case 2:
            if (client.Accepting()) {
                const Bytes data = in.Span();
                sent.insert(sent.end(), data.begin(), data.end());
                client.FromAbove(data.data(), data.size(), toServer);
            }
            break;
        default:
            if (server.Accepting()) {
                const Bytes data = in.Span();
                answered.insert(answered.end(), data.begin(), data.end());
                server.FromAbove(data.data(), data.size(), toClient);
            }
            break;
        }
    }
    for (int round = 0; round < 16 && (!toServer.empty() || !toClient.empty()); ++round) {
        Bytes part = std::move(toServer);
        toServer.clear();
        Feed(server, part, atServer, toClient);
        part = std::move(toClient);
        toClient.clear();
        Feed(client, part, atClient, toServer);
    }
    QLN_FUZZ_CHECK(atServer.size() <= sent.size() && std::equal(atServer.begin(), atServer.end(), sent.begin()));
    QLN_FUZZ_CHECK(atClient.size() <= answered.size()
                   && std::equal(atClient.begin(), atClient.end(), answered.begin()));
    if (!changed) {
        QLN_FUZZ_CHECK(client.HandshakeDone() && server.HandshakeDone());
        QLN_FUZZ_CHECK(!client.Broken() && !server.Broken());
        QLN_FUZZ_CHECK(atServer == sent && atClient == answered);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    TlsSettings files = MakeFiles();
    Made = new Contexts;
    TlsSettings server = files;
    server.Pin.clear();
    Made->Server = TlsContext::Make(server, true).Context;
    QLN_FUZZ_CHECK(Made->Server);
    TlsSettings client;
    client.On = true;
    client.Pin = files.Pin;
    Made->Client = TlsContext::Make(client, false).Context;
    QLN_FUZZ_CHECK(Made->Client);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    const uint8_t mode = in.Byte();
    if (mode % 3 == 2)
        Pair(in);
    else
        Hostile(mode % 3 == 1, in);
    return 0;
}
