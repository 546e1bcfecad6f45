// The guard in front of the SIP library's parser. liblinphone 5.1 writes
// each address of an incoming request out into a 1024-byte buffer, reads
// the text back and, when it was cut short, dereferences the null address
// that came back (a From display name of 1 KB ends the program inside the
// library, before any callback of ours); no setting avoids that path, and
// the system's library stays as it is. So no such datagram reaches it.
//
// The library reads every datagram of its UDP socket through
// bctbx_recvfrom (belle-sip's udp_channel.c; the listening point only
// peeks with recvfrom). The program defines that function itself: a
// program's dynamic symbols come before its libraries', so the library's
// calls land here. The library's own declaration is included, so the
// compiler checks the signature; the link options in CMakeLists.txt keep
// the definition in every program and in its dynamic symbol table. (The
// library's only other caller, liblinphone's check that a socket hears
// itself, wants just some bytes back, which it gets either way.)
#include <bctoolbox/port.h>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/report.h"
#include "sip/sip_guard.h"

namespace {

using Recvfrom = ssize_t (*)(bctbx_socket_t, void *, size_t, int,
                             struct sockaddr *, socklen_t *);

Recvfrom Real() {
  static const auto real =
      reinterpret_cast<Recvfrom>(dlsym(RTLD_NEXT, "bctbx_recvfrom"));
  return real;
}

// Read instead of a dropped datagram: text the library drops whole
// ("Unexpected ... trashing" in its channel.c) and that leaves it holding
// nothing. Failing the read instead (-1, even with EWOULDBLOCK) would put
// the library's channel to that sender in its error state.
constexpr char kDropped[] = "x\r\n";

// The first refusal is said at once, later ones at most once a minute with
// the count in between, so a flood cannot fill the log.
void Say(const sockaddr *from, socklen_t from_size, const char *why) {
  static std::mutex lock;
  static bool said = false;
  static std::chrono::steady_clock::time_point last;
  static long unsaid = 0;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> hold(lock);
  if (said && now - last < std::chrono::minutes(1)) {
    ++unsaid;
    return;
  }
  char host[NI_MAXHOST] = "an unknown address", port[NI_MAXSERV] = "";
  if (from != nullptr &&
      getnameinfo(from, from_size, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    std::strcpy(host, "an unknown address");
  const bool v6 = std::strchr(host, ':') != nullptr;
  char more[64] = "";
  if (unsaid > 0)
    std::snprintf(more, sizeof more, "; %ld more since the last such message",
                  unsaid);
  plat::Report("refused a SIP datagram from %s%s%s%s%s (%s)%s", v6 ? "[" : "",
               host, v6 ? "]" : "", *port ? ":" : "", port, why, more);
  said = true;
  last = now;
  unsaid = 0;
}

} // namespace

extern "C" ssize_t bctbx_recvfrom(bctbx_socket_t socket, void *buffer,
                                  size_t length, int flags,
                                  struct sockaddr *address,
                                  socklen_t *address_len) {
  const Recvfrom real = Real();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  const ssize_t got = real(socket, buffer, length, flags, address, address_len);
  // A peek leaves the datagram to the read that follows; that one is judged.
  if (got <= 0 || (flags & MSG_PEEK) != 0)
    return got;
  const SipDatagramVerdict verdict = JudgeSipDatagram(
      static_cast<const char *>(buffer), static_cast<std::size_t>(got));
  if (verdict.fate == SipDatagramFate::kPass)
    return got;
  if (verdict.fate == SipDatagramFate::kRefuse) {
    const int saved = errno;
    Say(address,
        address != nullptr && address_len != nullptr ? *address_len : 0,
        verdict.why);
    errno = saved;
  }
  // The library reads into a buffer of 64 KB; the copy stays within
  // whatever it offers.
  const std::size_t size = std::min(length, sizeof kDropped - 1);
  std::memcpy(buffer, kDropped, size);
  return static_cast<ssize_t>(size);
}
