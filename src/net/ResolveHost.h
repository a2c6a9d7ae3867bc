#pragma once
#include <vector>

#include "net/NetAddress.h"

// Both wait for the name service for as long as it takes: the links never call
// them on the pump or window thread, they go through their host cache and the
// port manager's resolver thread.

// Every address of a host name or numeric address (IPv6 also in brackets): the
// IPv4 ones first, then the IPv6 ones, each in the system's order, so that a name
// with both reaches the IPv4 address it always reached and IPv6 is tried after it.
// Empty for null, an empty text or a name that does not resolve.
std::vector<NetAddress> LookUpHost(const char* host);

// Resolves a host name or dotted address to dotted IPv4 text in `out`
// (16 characters or more). False for a null argument or a name without an IPv4
// address.
bool ResolveHost(const char* host, char* out);
