#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

bool UdpPortTaken(int port) {
  if (port <= 0 || port > 65535)
    return false;
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0)
    return false;
  // No reuse option: the bind fails whenever anyone holds the port.
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<in_port_t>(port));
  const bool taken = bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 &&
                     errno == EADDRINUSE;
  close(s);
  return taken;
}

std::string LocalAddressTowards(const char *host) {
  if (host == nullptr)
    return {};
  std::string numeric = host;
  if (numeric.size() > 2 && numeric.front() == '[' && numeric.back() == ']')
    numeric = numeric.substr(1, numeric.size() - 2);
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo *found = nullptr;
  // Any port: only the route is asked for.
  if (getaddrinfo(numeric.c_str(), "9", &hints, &found) != 0)
    return {};
  std::string local;
  // A connected datagram socket only picks its route and source address.
  const int s = socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage own{};
  socklen_t length = sizeof own;
  char text[INET6_ADDRSTRLEN] = {};
  if (s >= 0 && connect(s, found->ai_addr, found->ai_addrlen) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&own), &length) == 0) {
    const void *address =
        own.ss_family == AF_INET6
            ? static_cast<const void *>(
                  &reinterpret_cast<sockaddr_in6 *>(&own)->sin6_addr)
            : static_cast<const void *>(
                  &reinterpret_cast<sockaddr_in *>(&own)->sin_addr);
    if (inet_ntop(own.ss_family, address, text, sizeof text) != nullptr)
      local = text;
  }
  if (s >= 0)
    close(s);
  freeaddrinfo(found);
  return local;
}

} // namespace plat
