#pragma once
#include <string>

// Why `text` cannot be the address a TCP server or UDP link listens on, in words for
// the user ("192.0.2.9 is not an address of this machine."), or empty when it can:
// a numeric address (IPv4, or IPv6 bare or in brackets) that one of this machine's
// interfaces holds, or a wildcard ("0.0.0.0", "::"). Names are refused: what they
// resolve to may change, and a link must never end up listening more widely than
// it was told. Asks the system with a throw-away bind; any thread.
std::string LocalAddressProblem(const std::string& text);
