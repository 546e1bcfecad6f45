// A sender of raw UDP datagrams from one port of 127.0.0.1, for what no SIP
// stack would send, and the first lines of what comes back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

class UdpPeer {
public:
  UdpPeer() : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in at = Loopback(0);
    socklen_t size = sizeof at;
    bind(socket_, reinterpret_cast<sockaddr *>(&at), sizeof at);
    getsockname(socket_, reinterpret_cast<sockaddr *>(&at), &size);
    port_ = ntohs(at.sin_port);
  }
  ~UdpPeer() { close(socket_); }
  UdpPeer(const UdpPeer &) = delete;
  UdpPeer &operator=(const UdpPeer &) = delete;

  int port() const { return port_; }

  void Send(int port, const std::string &datagram) const {
    const sockaddr_in to = Loopback(port);
    sendto(socket_, datagram.data(), datagram.size(), 0,
           reinterpret_cast<const sockaddr *>(&to), sizeof to);
  }

  // The first line of each datagram waiting now, without waiting.
  std::vector<std::string> Received() const {
    std::vector<std::string> lines;
    std::string buffer(65536, '\0');
    for (;;) {
      const ssize_t got =
          recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got < 0)
        return lines;
      const std::string datagram = buffer.substr(0, got);
      lines.push_back(datagram.substr(0, datagram.find("\r\n")));
    }
  }

private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<in_port_t>(port));
    return at;
  }

  int socket_;
  int port_ = 0;
};
