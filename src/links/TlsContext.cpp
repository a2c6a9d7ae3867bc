// Implements TlsContext: a link's TLS settings read into an OpenSSL context.
#include "links/TlsContext.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include "links/TlsStage.h"
#include "net/NetAddress.h"

namespace {

// The last of OpenSSL's errors in words, and the queue emptied.
std::string OpenSslReason(const char* otherwise)
{
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? reason : otherwise;
}

// Why `path` cannot be read at all, or empty: a file that is not there says so,
// rather than OpenSSL's "no such file" from deep inside a PEM reader.
std::string Unreadable(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return path + ": " + std::strerror(errno);
    std::fclose(file);
    return {};
}

// A private key that others can read is refused, as ssh refuses one.
std::string KeyModeProblem(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & 077) == 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("Permissions ") + mode + " for " + path
           + " are too open: group or others can read the private key. chmod 600 " + path;
}

// What a PEM file holds, as far as its armour lines tell: enough to name the swap of a
// certificate and its key, which OpenSSL only calls "no start line" or "PEM lib".
struct PemContent {
    bool Certificate = false;
    bool PrivateKey = false;
};

PemContent Peek(const std::string& path)
{
    PemContent content;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return content;
    std::string text(64 * 1024, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    content.Certificate = text.find("-----BEGIN CERTIFICATE-----") != std::string::npos;
    content.PrivateKey = text.find("PRIVATE KEY-----") != std::string::npos;
    return content;
}

// Words for the user, then the library's.
Failure Told(const std::string& words, const char* otherwise)
{
    return Failure::Said(words + "; OpenSSL: " + OpenSslReason(otherwise));
}

std::string ExpiryText(const X509* certificate)
{
    std::tm when {};
    const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
    if (!notAfter || ASN1_TIME_to_tm(notAfter, &when) != 1)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &when);
    return text;
}

} // namespace

TlsContext::Made TlsContext::Make(const TlsSettings& settings, bool server)
{
    if (std::string problem = TlsSettingsProblem(settings, server); !problem.empty())
        return {nullptr, Failure::Said(std::move(problem))};
    std::shared_ptr<TlsContext> context(new TlsContext(server));
    ERR_clear_error();
    if (Failure why = context->Load(settings))
        return {nullptr, std::move(why)};
    return {std::move(context), {}};
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(Context);
}

Failure TlsContext::Load(const TlsSettings& settings)
{
    Context = SSL_CTX_new(Server ? TLS_server_method() : TLS_client_method());
    if (!Context)
        return Failure::Said("TLS: " + OpenSslReason("cannot make a context"));
    SSL_CTX_set_min_proto_version(Context, TLS1_2_VERSION);
    SSL_CTX_set_options(Context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION | SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(Context, SSL_SESS_CACHE_OFF);
    if (Server)
        SSL_CTX_set_num_tickets(Context, 0);

    const char* const notCertificate = "not a PEM certificate";
    auto fileFailure = [notCertificate](const std::string& path, const char* what) {
        std::string unreadable = Unreadable(path);
        if (!unreadable.empty()) {
            ERR_clear_error();
            return Failure::Said(unreadable);
        }
        if (const PemContent held = Peek(path); what == notCertificate && held.PrivateKey && !held.Certificate)
            return Told(path + " is not a certificate (is it the key?)", what);
        return Failure::Said(path + ": " + OpenSslReason(what));
    };
    if (!settings.Cert.empty()) {
        if (SSL_CTX_use_certificate_chain_file(Context, settings.Cert.c_str()) != 1)
            return fileFailure(settings.Cert, notCertificate);
        // A certificate in the key's place is named as such, whatever its mode.
        if (const PemContent held = Peek(settings.Key); held.Certificate && !held.PrivateKey) {
            ERR_clear_error();
            return Failure::Said(settings.Key + " is not a private key (is it the certificate?)");
        }
        if (const std::string problem = KeyModeProblem(settings.Key); !problem.empty())
            return Failure::Said(problem);
        // A key of another certificate is refused by the load itself, or by the check.
        const std::string otherKey = settings.Key + " does not belong to " + settings.Cert;
        if (SSL_CTX_use_PrivateKey_file(Context, settings.Key.c_str(), SSL_FILETYPE_PEM) != 1) {
            if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH)
                return Told(otherKey, "not the key of the certificate");
            return fileFailure(settings.Key, "not a PEM private key");
        }
        if (SSL_CTX_check_private_key(Context) != 1)
            return Told(otherKey, "not the key of the certificate");
        if (const X509* own = SSL_CTX_get0_certificate(Context)) {
            OwnFingerprint = FingerprintOf(own);
            OwnNotAfter = ExpiryText(own);
        }
    }

    if (Server) {
        if (!settings.CA.empty()) {
            if (SSL_CTX_load_verify_locations(Context, settings.CA.c_str(), nullptr) != 1)
                return fileFailure(settings.CA, notCertificate);
            if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(settings.CA.c_str()))
                SSL_CTX_set_client_CA_list(Context, names);
            SSL_CTX_set_verify(Context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        }
        return {};
    }

    SSL_CTX_set_verify(Context, SSL_VERIFY_PEER, nullptr);
    if (!settings.Pin.empty()) {
        // The pin alone decides: no chain, no name, no dates.
        Pinned = ParsePin(settings.Pin, Pin);
        SSL_CTX_set_cert_verify_callback(
            Context, [](X509_STORE_CTX* store, void* self) { return CheckPin(store, self); }, this);
    } else if (!settings.CA.empty()) {
        if (SSL_CTX_load_verify_locations(Context, settings.CA.c_str(), nullptr) != 1)
            return fileFailure(settings.CA, notCertificate);
    } else {
        // The system's store, read whole now: a hashed folder would be read on the
        // pump at each connection.
        const char* variable = std::getenv(X509_get_default_cert_file_env());
        const std::string bundle = variable && *variable ? variable : X509_get_default_cert_file();
        if (Unreadable(bundle).empty() ? SSL_CTX_load_verify_locations(Context, bundle.c_str(), nullptr) != 1
                                       : SSL_CTX_set_default_verify_paths(Context) != 1)
            return Failure::Said("TLS: the system's CA store " + bundle + ": " + OpenSslReason("cannot be read"));
    }
    ERR_clear_error();
    return {};
}

int TlsContext::CheckPin(void* storeContext, void* self)
{
    auto* store = static_cast<X509_STORE_CTX*>(storeContext);
    const auto* context = static_cast<const TlsContext*>(self);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (leaf && X509_digest(leaf, EVP_sha256(), digest, &length) == 1 && length == context->Pin.size()
        && context->Pinned && std::memcmp(digest, context->Pin.data(), length) == 0)
        return 1;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (auto* stage = ssl ? static_cast<TlsStage*>(SSL_get_app_data(ssl)) : nullptr)
        stage->Fail(leaf ? "fingerprint " + FingerprintText(digest, length) + " is not the pinned one"
                         : "the server showed no certificate");
    return 0;
}

SSL* TlsContext::NewSession(const std::string& host) const
{
    SSL* ssl = SSL_new(Context);
    if (!ssl)
        return nullptr;
    if (Server) {
        SSL_set_accept_state(ssl);
        return ssl;
    }
    SSL_set_connect_state(ssl);
    if (!Pinned && !host.empty()) {
        // A numeric address must be in the certificate's IP addresses, a name in its
        // DNS names (or common name); a name also goes as the server name (SNI).
        const std::string bare = BareHost(host);
        NetAddress numeric;
        if (NetAddress::FromNumeric(bare.c_str(), numeric)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), bare.c_str());
        } else {
            SSL_set1_host(ssl, bare.c_str());
            SSL_set_tlsext_host_name(ssl, bare.c_str());
        }
    }
    return ssl;
}

std::string TlsContext::FingerprintOf(const void* certificate)
{
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!certificate || X509_digest(static_cast<const X509*>(certificate), EVP_sha256(), digest, &length) != 1)
        return {};
    return FingerprintText(digest, length);
}
