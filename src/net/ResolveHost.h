#pragma once

// Resolves a host name or dotted address to dotted IPv4 text in `out`
// (16 characters or more). False for a null argument or a name that does not resolve.
bool ResolveHost(const char* host, char* out);
