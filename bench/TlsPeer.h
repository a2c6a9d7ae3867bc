#pragma once
// The network side's TLS in the TLS case: certificates made once per run with the
// openssl command line, and socat relays that put TLS in front of the benchmark's
// plain peers. Both contestants meet the same relays, which are no contestant's
// processes: their CPU is not counted.
#include <string>

#include "BenchSupport.h"

namespace bench {

struct TlsFiles {
    std::string Ca, Cert, Key; // the CA; the server's certificate (127.0.0.1) and key
};

// The run's files, made in the private folder on first use, or Fail.
const TlsFiles& BenchTlsFiles();

// Until something listens on `port` (`pid`, when above 0, must live meanwhile), or Fail.
void WaitListening(uint16_t port, pid_t pid, const std::string& what);

// socat taking TLS on 127.0.0.1:`tlsPort` with the server's certificate, and relaying
// to the plain 127.0.0.1:`plainPort`: a TCP client link's far end. Listens when it
// returns.
pid_t StartTlsServerRelay(const std::string& socat, uint16_t tlsPort, uint16_t plainPort);
// socat taking a plain connection on 127.0.0.1:`plainPort` and relaying it over TLS
// to 127.0.0.1:`tlsPort`, checking the server against the CA: a client of a TLS
// server link. Listens when it returns.
pid_t StartTlsClientRelay(const std::string& socat, uint16_t plainPort, uint16_t tlsPort);

} // namespace bench
