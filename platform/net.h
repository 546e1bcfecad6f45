// What the SIP side needs to know of the machine's network.
#pragma once

#include <string>

namespace plat {

// Whether some socket already holds UDP `port` on any address. The SIP
// library shares a port it finds taken without a word, and two programs on
// one port each get only part of the calls.
bool UdpPortTaken(int port);

// The local address this machine sends from to reach `host`, a numeric IPv4
// or IPv6 address (brackets allowed): the address a peer on that network
// can answer to. Empty for a host name (no name is looked up: the caller
// may not wait on a name server) or when no route leads there. Nothing is
// sent.
std::string LocalAddressTowards(const char *host);

} // namespace plat
