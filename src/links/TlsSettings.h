#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// What a TCP link is told of TLS: whether it speaks it, and the files and the pin it
// trusts. Paths are as stored (the console reads them when the link is made).
struct TlsSettings {
    bool On = false;
    std::string Cert {}; // PEM chain: the server link's own; a client link's client certificate
    std::string Key {};  // PEM private key of Cert
    std::string CA {};   // server: clients must present a certificate it signed; client: instead of the system's store
    std::string Pin {};  // client: SHA-256 of the server's certificate, hex, colons allowed

    bool operator==(const TlsSettings&) const = default;
};

// Why `settings` cannot serve a link of that side before any file is read ("A TLS
// server link needs a certificate and a key."), or empty. Settings with TLS off
// always pass.
std::string TlsSettingsProblem(const TlsSettings& settings, bool server);

// The 32 bytes of a pin: 64 hex digits, colons allowed between them. False for
// anything else.
bool ParsePin(const std::string& text, std::array<uint8_t, 32>& pin);

// "AB:CD:…": a fingerprint as a user compares and pins it.
std::string FingerprintText(const uint8_t* bytes, size_t count);

// One TLS connection as the figures show it.
struct TlsSession {
    std::string Peer;            // a server link's client; empty for a client link's connection
    std::string Version;         // "TLSv1.3"
    std::string Cipher;          // "TLS_AES_256_GCM_SHA384"
    std::string PeerSubject;     // "CN=device,O=Plant"; empty when the peer showed no certificate
    std::string PeerFingerprint; // SHA-256, "AB:CD:…"
};

// A TLS link's figures: its own certificate (a server link's, or a client link's
// client certificate), so that the other side can pin it, and its connections whose
// handshake is done.
struct TlsFigures {
    std::string Fingerprint; // SHA-256 of the own certificate, "AB:CD:…"; empty without one
    std::string NotAfter;    // its expiry, "2027-01-31 12:00:00 UTC"
    std::vector<TlsSession> Sessions;
};
