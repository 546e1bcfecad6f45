// The wait that a datagram for another part of the process ends early.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net.h"

namespace {

using namespace std::chrono_literals;

int BoundUdp(int *port) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &size) != 0)
    return -1;
  *port = ntohs(a.sin_port);
  return s;
}

void SendTo(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<in_port_t>(port));
  sendto(s, "x", 1, 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
  close(s);
}

// Seconds a wait took; the limits below are far beyond any machine's
// hiccup, so a wait that runs into one was not ended.
template <class F> double Seconds(F wait) {
  const auto start = std::chrono::steady_clock::now();
  wait();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

} // namespace

TEST(DatagramWait, EndsOnADatagramOrAWakeAndLetsGoOfAClosedSocket) {
  int port = 0;
  const int library = BoundUdp(&port);
  ASSERT_GE(library, 0);
  plat::DatagramWait wait;
  EXPECT_FALSE(wait.Watch(0));
  ASSERT_TRUE(wait.Watch(port)) << "found among the process's sockets";

  // A datagram waiting ends the wait at once, and is left to its reader.
  SendTo(port);
  bool datagram = false;
  EXPECT_LT(Seconds([&] { datagram = wait.Wait(30s, true); }), 10);
  EXPECT_TRUE(datagram);
  char byte;
  EXPECT_EQ(recv(library, &byte, 1, MSG_DONTWAIT), 1);

  // Not watched, the same datagram does not end it.
  SendTo(port);
  EXPECT_FALSE(wait.Wait(50ms, false));
  EXPECT_EQ(recv(library, &byte, 1, MSG_DONTWAIT), 1);

  // A Wake from another thread ends it, and one that came before it too.
  std::thread waker([&] {
    std::this_thread::sleep_for(100ms);
    wait.Wake();
  });
  EXPECT_LT(Seconds([&] { datagram = wait.Wait(30s, true); }), 10);
  EXPECT_FALSE(datagram);
  waker.join();
  wait.Wake();
  EXPECT_LT(Seconds([&] { wait.Wait(30s, true); }), 10);

  // The library closed its socket and the number went to another kind of
  // socket: no longer watched, and a wait lasts its time.
  close(library);
  const int other = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(other, library);
  EXPECT_FALSE(wait.Watch(port));
  EXPECT_FALSE(wait.Wait(50ms, true));
  close(other);
}
