// A loopback SIP registrar for tests: Debian's kamailio with the digest
// account of kamailio-registrar.cfg, on a free UDP port of 127.0.0.1.
#pragma once

#include "support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/temp_dir.h"

class Kamailio {
public:
  Kamailio(const std::string &config, const std::string &user,
           const std::string &password) {
    port_ = FreeUdpPort();
    child_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/sbin/kamailio",
                                 "-f",
                                 config,
                                 "-DD",
                                 "-E",
                                 "-n",
                                 "1",
                                 "-m",
                                 "16",
                                 "-M",
                                 "4",
                                 "-l",
                                 "udp:127.0.0.1:" + std::to_string(port_),
                                 "-w",
                                 folder_.path(),
                                 "-Y",
                                 folder_.path(),
                                 "-P",
                                 folder_ / "kamailio.pid",
                                 "-A",
                                 "SIP_USER=\"" + user + "\"",
                                 "-A",
                                 "SIP_PASS=\"" + password + "\""});
    up_ = WaitUp(std::chrono::seconds(10));
  }
  ~Kamailio() {
    if (child_ && child_->started()) {
      kill(child_->pid(), SIGTERM);
      if (!child_->Wait(std::chrono::seconds(5)))
        kill(child_->pid(), SIGKILL);
    }
  }

  // True once it answered an OPTIONS request.
  bool up() const { return up_; }
  int port() const { return port_; }
  // "127.0.0.1:PORT", what SIP_addr holds to reach it.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
  // Sends OPTIONS every 100 ms until a 200 comes back.
  bool WaitUp(std::chrono::milliseconds limit) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to);
    timeval wait{0, 100000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const auto end = std::chrono::steady_clock::now() + limit;
    bool answered = false;
    for (int n = 0; !answered && std::chrono::steady_clock::now() < end; ++n) {
      const std::string branch = "z9hG4bK-up-" + std::to_string(n);
      const std::string request =
          "OPTIONS sip:127.0.0.1:" + std::to_string(port_) +
          " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=" + branch +
          ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:test@127.0.0.1>;tag=1\r\n"
          "To: <sip:127.0.0.1>\r\nCall-ID: up-" +
          std::to_string(n) +
          "\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
      send(s, request.data(), request.size(), 0);
      char reply[2048];
      const ssize_t got = recv(s, reply, sizeof reply - 1, 0);
      if (got > 0) {
        reply[got] = '\0';
        answered = std::string(reply).rfind("SIP/2.0 200", 0) == 0;
      }
    }
    close(s);
    return answered;
  }

  TempDir folder_;
  int port_ = 0;
  std::unique_ptr<Child> child_;
  bool up_ = false;
};
