// Implements TlsStage: TLS on a connection, through memory, never waiting.
#include "links/TlsStage.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "links/TlsContext.h"
#include "platform/base/TickCount.h"

namespace {

// How much one read of the session asks for: a whole record.
constexpr size_t ReadStep = 16 * 1024;

} // namespace

TlsStage::TlsStage(std::shared_ptr<const TlsContext> context, const std::string& host)
    : Context(std::move(context)), Since(GetTickCount32())
{
    if (!Context) {
        Fail("TLS: the link has no certificates");
        return;
    }
    Ssl = Context->NewSession(host);
    Incoming = BIO_new(BIO_s_mem());
    Outgoing = BIO_new(BIO_s_mem());
    if (!Ssl || !Incoming || !Outgoing) {
        BIO_free(Incoming);
        BIO_free(Outgoing);
        Incoming = Outgoing = nullptr;
        Fail("TLS: no memory for a session");
        return;
    }
    // An empty buffer means "more to come", not the end of the stream.
    BIO_set_mem_eof_return(Incoming, -1);
    SSL_set_bio(Ssl, Incoming, Outgoing);
    SSL_set_app_data(Ssl, this);
}

TlsStage::~TlsStage()
{
    SSL_free(Ssl);
}

void TlsStage::Fail(std::string why)
{
    if (State == Phase::Broken)
        return;
    State = Phase::Broken;
    Why = std::move(why);
    Held.clear();
    Held.shrink_to_fit();
}

bool TlsStage::Opening(int32_t& since) const
{
    since = Since;
    return State == Phase::Handshake;
}

std::string TlsStage::FailureOf(int result, const char* during)
{
    const int error = SSL_get_error(Ssl, result);
    // A verification that failed names what was wrong with the certificate.
    const long verified = SSL_get_verify_result(Ssl);
    if (State == Phase::Handshake && verified != X509_V_OK && verified != X509_V_ERR_CERT_REJECTED) {
        ERR_clear_error();
        return std::string("certificate verify failed: ") + X509_verify_cert_error_string(verified);
    }
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    std::string text = std::string("TLS ") + during + " failed";
    if (reason)
        return text + ": " + reason;
    if (error == SSL_ERROR_ZERO_RETURN)
        return text + ": the peer closed the session";
    return text;
}

bool TlsStage::Handshake()
{
    if (State != Phase::Handshake)
        return State == Phase::Up;
    ERR_clear_error();
    const int result = SSL_do_handshake(Ssl);
    if (result == 1) {
        State = Phase::Up;
        Done = true;
        return true;
    }
    if (SSL_get_error(Ssl, result) != SSL_ERROR_WANT_READ) {
        // The pin's check says why itself.
        std::string why = FailureOf(result, "handshake");
        Fail(Why.empty() ? std::move(why) : Why);
    }
    return false;
}

void TlsStage::Drain(Bytes& down)
{
    if (!Outgoing)
        return;
    // Straight from the session's buffer, which then starts over empty.
    char* data = nullptr;
    const long pending = BIO_get_mem_data(Outgoing, &data);
    if (pending <= 0)
        return;
    down.insert(down.end(), data, data + pending);
    (void)BIO_reset(Outgoing);
}

void TlsStage::Open(Bytes& down)
{
    // A client speaks first; a server waits for the client's hello.
    if (State == Phase::Handshake && !Context->IsServer())
        Handshake();
    Drain(down);
}

void TlsStage::ReadAll(Bytes& up)
{
    static thread_local uint8_t record[ReadStep];
    for (;;) {
        size_t got = 0;
        ERR_clear_error();
        const int result = SSL_read_ex(Ssl, record, ReadStep, &got);
        if (result == 1) {
            up.insert(up.end(), record, record + got);
            continue;
        }
        const int error = SSL_get_error(Ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN)
            PeerEnded = true; // a close_notify: the peer sends nothing more
        else if (error != SSL_ERROR_WANT_READ)
            Fail(FailureOf(result, "read"));
        return;
    }
}

void TlsStage::WriteAll(const uint8_t* data, size_t count)
{
    // The session writes into memory, which takes everything.
    while (count > 0 && State == Phase::Up) {
        size_t written = 0;
        ERR_clear_error();
        const int result = SSL_write_ex(Ssl, data, count, &written);
        if (result != 1) {
            Fail(FailureOf(result, "write"));
            return;
        }
        data += written;
        count -= written;
    }
}

void TlsStage::FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down)
{
    if (State == Phase::Broken)
        return;
    if (count > 0 && BIO_write(Incoming, bytes, static_cast<int>(count)) != static_cast<int>(count)) {
        Fail("TLS: no memory for the peer's records");
        return;
    }
    const bool wasOpening = State == Phase::Handshake;
    if (Handshake()) {
        if (wasOpening && !Held.empty()) {
            // What the stages above said while the handshake ran goes first.
            WriteAll(Held.data(), Held.size());
            Held.clear();
            Held.shrink_to_fit();
        }
        ReadAll(up);
    }
    // Handshake messages, alerts and the held opening go down, also after a failure:
    // the peer learns why.
    Drain(down);
}

void TlsStage::FromAbove(const uint8_t* data, size_t count, Bytes& down)
{
    if (State == Phase::Handshake) {
        Held.insert(Held.end(), data, data + count);
        return;
    }
    WriteAll(data, count);
    Drain(down);
}

void TlsStage::Closing(Bytes& down)
{
    if (State != Phase::Up)
        return;
    ERR_clear_error();
    SSL_shutdown(Ssl);
    ERR_clear_error();
    Drain(down);
}

TlsSession TlsStage::Session() const
{
    TlsSession session;
    if (State != Phase::Up)
        return session;
    session.Version = SSL_get_version(Ssl);
    session.Cipher = SSL_get_cipher_name(Ssl);
    if (X509* peer = SSL_get0_peer_certificate(Ssl)) {
        if (BIO* text = BIO_new(BIO_s_mem())) {
            X509_NAME_print_ex(text, X509_get_subject_name(peer), 0, XN_FLAG_RFC2253);
            char* data = nullptr;
            const long length = BIO_get_mem_data(text, &data);
            session.PeerSubject.assign(data, static_cast<size_t>(length > 0 ? length : 0));
            BIO_free(text);
        }
        session.PeerFingerprint = TlsContext::FingerprintOf(peer);
    }
    return session;
}
