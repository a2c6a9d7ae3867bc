#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "links/TlsSettings.h"
#include "platform/base/Failure.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

// A TCP link's TLS, made from its settings when the link is made: the certificate,
// key and CA files are read here, once, and never again per connection. Every
// connection of the link takes a session of it (TlsStage).
//
// TLS 1.2 and later, renegotiation off, no session cache, no compression. A server
// link with a CA asks every client for a certificate that CA signed. A client link
// checks the server against the system's CA store (or its CA) and the name or
// address it connects to, or, with a pin, against the pin alone.
//
// Immutable once made; shared by the link and its connections' stages, which may
// outlive the link's edit (a server link's clients move to the edited link).
class TlsContext {
public:
    // A context, or why none could be had: which file and what is wrong with it.
    struct Made {
        std::shared_ptr<const TlsContext> Context; // null when Why says something
        Failure Why;
    };
    // The context of `settings` for a server or a client link.
    static Made Make(const TlsSettings& settings, bool server);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A new session for one connection; `host` (client side) is the name or numeric
    // address the link connects to, which the server's certificate must carry.
    SSL* NewSession(const std::string& host) const;
    bool IsServer() const { return Server; }
    // The own certificate's SHA-256 fingerprint and expiry; empty without one.
    const std::string& Fingerprint() const { return OwnFingerprint; }
    const std::string& NotAfter() const { return OwnNotAfter; }

    // The SHA-256 fingerprint of a certificate, as FingerprintText shows it.
    static std::string FingerprintOf(const void* x509);

private:
    explicit TlsContext(bool server) : Server(server) {}
    Failure Load(const TlsSettings& settings);
    static int CheckPin(void* store, void* self);

    const bool Server;
    SSL_CTX* Context = nullptr; // owned
    bool Pinned = false;
    std::array<uint8_t, 32> Pin {};
    std::string OwnFingerprint;
    std::string OwnNotAfter;
};
