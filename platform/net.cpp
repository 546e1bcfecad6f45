#include "platform/net.h"

#include <cerrno>
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

} // namespace plat
