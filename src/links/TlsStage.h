#pragma once
#include <memory>
#include <string>

#include "links/Stage.h"
#include "links/TlsSettings.h"

class TlsContext;
typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// TLS on a connection, the lowest stage: ciphertext from below, plaintext up. It
// runs on the pump without ever waiting: the session reads from and writes to
// memory (OpenSSL's memory BIOs), which the connection fills from its socket and
// empties into its wire, so a handshake advances only as the peer's bytes arrive.
//
// Until the handshake is done the stage takes nothing from above but the stages'
// own opening (held, and counted as Holding), and nothing goes up. A failed
// handshake or a broken record makes the stage Broken, with the reason; nothing of
// what the peer sent after that reaches the stages above.
//
// Owns its session; guarded by the manager lock.
class TlsStage : public Stage {
public:
    // `host`: on a client link, the name or address the certificate must carry.
    TlsStage(std::shared_ptr<const TlsContext> context, const std::string& host);
    ~TlsStage() override;
    TlsStage(const TlsStage&) = delete;
    TlsStage& operator=(const TlsStage&) = delete;

    void Open(Bytes& down) override;
    void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down) override;
    void FromAbove(const uint8_t* data, size_t count, Bytes& down) override;
    // A record of at most 16 KiB of data gains at most a header, padding and a tag.
    size_t DownBound(size_t count) const override { return count + (count / 16384 + 1) * RecordOverhead; }
    bool Accepting() const override { return State == Phase::Up; }
    size_t Holding() const override { return Held.size(); }
    bool Opening(int32_t& since) const override;
    Failure Broken() const override { return State == Phase::Broken ? Failure::Said(Why) : Failure {}; }
    bool Ended() const override { return PeerEnded; }
    // A close_notify, once the session is up.
    void Closing(Bytes& down) override;

    // Whether the handshake finished (also for a stage that broke later).
    bool HandshakeDone() const { return Done; }
    // The version, cipher and peer certificate, once the handshake is done.
    TlsSession Session() const;
    // Gives up with `why`; also the pin's check, from inside the handshake.
    void Fail(std::string why);

    static constexpr size_t RecordOverhead = 256;

private:
    enum class Phase { Handshake, Up, Broken };
    // Moves the handshake on; true once it is done.
    bool Handshake();
    void ReadAll(Bytes& up);
    void WriteAll(const uint8_t* data, size_t count);
    // What the session wrote goes down.
    void Drain(Bytes& down);
    // Why the last session call failed, in the user's words.
    std::string FailureOf(int result, const char* during);

    std::shared_ptr<const TlsContext> Context;
    SSL* Ssl = nullptr; // owned; owns the two BIOs
    BIO* Incoming = nullptr; // ciphertext from the peer
    BIO* Outgoing = nullptr; // ciphertext for the peer
    Phase State = Phase::Handshake;
    bool Done = false;
    bool PeerEnded = false;
    int32_t Since = 0;
    Bytes Held; // from above while the handshake runs
    std::string Why;
};
