// A port of 127.0.0.1 that nobody holds just now, for a peer a test or a
// benchmark starts (two processes can otherwise share a UDP port without a
// word).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// `type`: SOCK_DGRAM for UDP, SOCK_STREAM for TCP.
inline int FreePort(int type) {
  const int s = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
  close(s);
  return ntohs(a.sin_port);
}

inline int FreeUdpPort() { return FreePort(SOCK_DGRAM); }
