// Implements the checks and texts of TlsSettings that need no TLS library.
#include "links/TlsSettings.h"

std::string TlsSettingsProblem(const TlsSettings& settings, bool server)
{
    if (!settings.On)
        return {};
    if (server && (settings.Cert.empty() || settings.Key.empty()))
        return "A TLS server link needs a certificate and a key.";
    if (settings.Cert.empty() != settings.Key.empty())
        return "A client certificate needs its key, and a key its certificate.";
    std::array<uint8_t, 32> pin;
    if (!settings.Pin.empty() && !ParsePin(settings.Pin, pin))
        return "The pin is the SHA-256 fingerprint: 64 hex digits, colons allowed.";
    if (server && !settings.Pin.empty())
        return "A pin is for a TLS client link; a server link checks clients with a CA.";
    return {};
}

bool ParsePin(const std::string& text, std::array<uint8_t, 32>& pin)
{
    size_t digits = 0;
    for (const char c : text) {
        if (c == ':')
            continue;
        int value = -1;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        if (value < 0 || digits >= 64)
            return false;
        uint8_t& byte = pin[digits / 2];
        byte = digits % 2 ? static_cast<uint8_t>(byte | value) : static_cast<uint8_t>(value << 4);
        ++digits;
    }
    return digits == 64;
}

std::string FingerprintText(const uint8_t* bytes, size_t count)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            text += ':';
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 15];
    }
    return text;
}
