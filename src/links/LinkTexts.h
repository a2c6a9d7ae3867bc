#pragma once
#include <cstdint>
#include <string>

// The words a link gives for closing or turning away a connection, as the figures
// and quillonctl show them. The intervals are in milliseconds.

// "10 s", "0.5 s".
std::string SecondsText(int32_t milliseconds);
// "took nothing for 30 s; the others were waiting"
std::string StalledText(int32_t limit);
// "the TLS handshake took longer than 10 s"
std::string HandshakeTooLongText(int32_t limit);
// "the limit of 4 clients is reached"
std::string ClientLimitText(int32_t limit);
