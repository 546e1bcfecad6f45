#include "platform/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
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

namespace {

bool UdpSocketOn(int fd, int port) {
  int type = 0;
  socklen_t size = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 ||
      type != SOCK_DGRAM)
    return false;
  sockaddr_storage a{};
  size = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) != 0)
    return false;
  if (a.ss_family == AF_INET)
    return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port) == port;
  if (a.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port) == port;
  return false;
}

} // namespace

DatagramWait::DatagramWait() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DatagramWait::~DatagramWait() {
  if (wake_ >= 0)
    close(wake_);
}

bool DatagramWait::Watch(int port) {
  if (port <= 0 || port > 65535)
    return false;
  // The library may have closed it, and the number gone to another file.
  if (socket_ >= 0 && port_ == port && UdpSocketOn(socket_, port))
    return true;
  socket_ = -1;
  const auto now = std::chrono::steady_clock::now();
  if (port_ == port && now - looked_ < std::chrono::seconds(1))
    return false;
  port_ = port;
  looked_ = now;
  if (DIR *fds = opendir("/proc/self/fd")) {
    while (dirent *e = readdir(fds)) {
      char *end = nullptr;
      const long fd = std::strtol(e->d_name, &end, 10);
      if (end != e->d_name && *end == '\0' && fd != dirfd(fds) &&
          UdpSocketOn(static_cast<int>(fd), port)) {
        socket_ = static_cast<int>(fd);
        break;
      }
    }
    closedir(fds);
  }
  return socket_ >= 0;
}

bool DatagramWait::Wait(std::chrono::milliseconds limit, bool datagrams) {
  pollfd p[2] = {{wake_, POLLIN, 0}, {socket_, POLLIN, 0}};
  const nfds_t n = datagrams && socket_ >= 0 ? 2 : 1;
  const int ms = static_cast<int>(std::max<long long>(0, limit.count()));
  if (poll(p, n, ms) <= 0)
    return false;
  if (p[0].revents & POLLIN) {
    std::uint64_t count;
    [[maybe_unused]] const ssize_t got = read(wake_, &count, sizeof count);
  }
  if (n == 2 && (p[1].revents & POLLNVAL))
    socket_ = -1;
  return n == 2 && p[1].revents != 0;
}

void DatagramWait::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t put = write(wake_, &one, sizeof one);
}

} // namespace plat
