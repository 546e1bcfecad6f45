// What the SIP side needs to know of the machine's network.
#pragma once

#include <chrono>
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

// A thread's wait between two rounds of a library's work that a datagram
// for the library ends early. The library owns its UDP socket and does not
// hand it out, so the socket is found among the process's own by the port
// it is bound to. One thread waits; any thread may Wake it.
class DatagramWait {
public:
  DatagramWait();
  ~DatagramWait();
  DatagramWait(const DatagramWait &) = delete;
  DatagramWait &operator=(const DatagramWait &) = delete;

  // Whether a datagram to UDP `port` can end a wait: this process's socket
  // bound to it is known and still there. Looks for it again at most once a
  // second.
  bool Watch(int port);
  // Waits up to `limit`, less when woken and, with `datagrams` (after a
  // Watch that found the socket), when a datagram waits on the socket. True
  // when the socket ended it (a datagram, or an error on it).
  bool Wait(std::chrono::milliseconds limit, bool datagrams);
  // Ends the wait under way, or else the next one, at once.
  void Wake();

private:
  int wake_ = -1;   // an event counter
  int socket_ = -1; // the library's, never closed here
  int port_ = 0;
  std::chrono::steady_clock::time_point looked_{};
};

} // namespace plat
