// What the SIP side needs to know of the machine's network.
#pragma once

namespace plat {

// Whether some socket already holds UDP `port` on any address. The SIP
// library shares a port it finds taken without a word, and two programs on
// one port each get only part of the calls.
bool UdpPortTaken(int port);

} // namespace plat
