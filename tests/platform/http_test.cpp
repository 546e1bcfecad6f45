// The HTTP client against the door-unit simulator over real connections.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/http.h"
#include "support/doorsim.h"
#include "support/temp_dir.h"

using namespace plat;
using Clock = std::chrono::steady_clock;

namespace {

// A loopback port with nothing listening on it.
int ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

std::string ReadAll(HINTERNET request, std::size_t *blocks = nullptr,
                    std::size_t limit = 1 << 20) {
  std::string body;
  char buffer[1024];
  std::size_t n = 0;
  while (body.size() < limit &&
         InternetReadFile(request, buffer, sizeof buffer, &n) && n > 0) {
    EXPECT_LE(n, sizeof buffer);
    body.append(buffer, n);
    if (blocks)
      ++*blocks;
  }
  return body;
}

TEST(Http, StreamArrivesInBlocksOfAtMost1024Bytes) {
  DoorSim sim({"--fps", "50"});
  ASSERT_NE(sim.port(), 0);
  HINTERNET session = InternetOpen("Vestibell_1.39");
  HINTERNET request = InternetOpenUrl(session, sim.url("/video.mjpg").c_str());
  ASSERT_NE(request, nullptr);
  std::size_t blocks = 0;
  const std::string body = ReadAll(request, &blocks, 100000);
  EXPECT_GE(body.size(), 100000u);
  EXPECT_NE(body.find("Content-Type: image/jpeg\r\nContent-Length: "),
            std::string::npos);
  EXPECT_GE(blocks, body.size() / 1024);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
}

// The simulator records every body byte it sends; the client must hand over
// exactly those, in order, whether the reader keeps up or falls behind (then
// the client holds the connection back and resumes it) and whatever block
// sizes it asks for.
TEST(Http, BodyArrivesWholeAndInOrderAcrossReceivesAndPauses) {
  TempDir record;
  DoorSim sim({"--fps", "0", "--size", "640x480", "--record", record.path()});
  ASSERT_NE(sim.port(), 0);
  HINTERNET session = InternetOpen("Vestibell_1.39");
  HINTERNET request = InternetOpenUrl(session, sim.url("/video.mjpg").c_str());
  ASSERT_NE(request, nullptr);
  std::string body;
  char buffer[1024];
  std::size_t n = 0;
  for (int i = 0; body.size() < (3u << 20); ++i) {
    const std::size_t want = 1 + (i * 131) % sizeof buffer;
    ASSERT_TRUE(InternetReadFile(request, buffer, want, &n));
    ASSERT_GT(n, 0u);
    ASSERT_LE(n, want);
    body.append(buffer, n);
    if (i % 500 == 0) // fall behind: the sender fills every buffer meanwhile
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  sim.Command("drop");
  ASSERT_TRUE(sim.WaitForLine("ok"));

  std::ifstream in(record.path() + "/stream-1.bin", std::ios::binary);
  std::string sent((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GE(sent.size(), body.size());
  // Compared without printing megabytes on a failure.
  std::size_t at = 0;
  while (at < body.size() && body[at] == sent[at])
    ++at;
  EXPECT_EQ(at, body.size()) << "first difference at byte " << at;
}

TEST(Http, ErrorPagesAreReadAsBodiesAndEndWithAZeroRead) {
  DoorSim sim;
  sim.Command("error 503 1");
  ASSERT_TRUE(sim.WaitForLine("ok"));
  HINTERNET session = InternetOpen("Vestibell_1.39");
  HINTERNET request = InternetOpenUrl(session, sim.url("/video.mjpg").c_str());
  ASSERT_NE(request, nullptr) << "an error status is still an answer";
  const std::string page = ReadAll(request);
  EXPECT_FALSE(page.empty());
  std::size_t n = 99;
  char buffer[16];
  EXPECT_TRUE(InternetReadFile(request, buffer, sizeof buffer, &n));
  EXPECT_EQ(n, 0u);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
}

TEST(Http, NobodyListeningFailsAtOnce) {
  HINTERNET session = InternetOpen("Vestibell_1.39");
  const std::string url =
      "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/video.mjpg";
  const auto start = Clock::now();
  EXPECT_EQ(InternetOpenUrl(session, url.c_str()), nullptr);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  InternetCloseHandle(session);
}

TEST(Http, OnlyPlainHttpAddressesAreFollowed) {
  HINTERNET session = InternetOpen("Vestibell_1.39");
  EXPECT_EQ(InternetOpenUrl(session, "file:///etc/passwd"), nullptr);
  EXPECT_EQ(InternetOpenUrl(session, ""), nullptr);
  InternetCloseHandle(session);
}

TEST(Http, AStalledReadIsGivenUpAsSoonAsTheFlagIsSet) {
  DoorSim sim;
  HINTERNET session = InternetOpen("Vestibell_1.39");
  std::atomic<int> abandon{0};
  HINTERNET request = InternetOpenUrl(session, sim.url("/video.mjpg").c_str(),
                                      [&] { return abandon.load() != 0; });
  ASSERT_NE(request, nullptr);
  sim.Command("stall 30");
  ASSERT_TRUE(sim.WaitForLine("ok"));
  // Drain what was sent before the stall.
  char buffer[1024];
  std::size_t n;
  std::atomic<Clock::rep> setAt{0};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    setAt = Clock::now().time_since_epoch().count();
    abandon = 1;
  });
  bool ok;
  while ((ok = InternetReadFile(request, buffer, sizeof buffer, &n)) && n > 0) {
  }
  const auto gaveUp = Clock::now().time_since_epoch().count();
  setter.join();
  EXPECT_FALSE(ok) << "an abandoned read is a failure, not the end";
  ASSERT_NE(setAt.load(), 0) << "the read ended before the flag was set";
  EXPECT_LT(std::chrono::nanoseconds(gaveUp - setAt.load()),
            std::chrono::milliseconds(500));
  InternetCloseHandle(request);
  InternetCloseHandle(session);
}

TEST(Http, ARelayCommandIsOneRequestTheSimulatorLogs) {
  DoorSim sim;
  HINTERNET session = InternetOpen("Vestibell_1.39");
  HINTERNET request = InternetOpenUrl(
      session, sim.url("/cgi-bin/remctrl.sh?id=relay2").c_str());
  ASSERT_NE(request, nullptr);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  EXPECT_TRUE(sim.WaitForLine("relay2"));
}

// A server on loopback that answers every request with a redirect to
// `location`, for as long as it lives.
class Redirector {
public:
  explicit Redirector(std::string location) : location_(std::move(location)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(listener_, 4);
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int c = accept(listener_, nullptr, nullptr);
        if (c < 0)
          return;
        char request[4096];
        [[maybe_unused]] ssize_t got = read(c, request, sizeof request);
        ++answered; // before the answer, which the client waits for
        const std::string page = "<a href=\"" + location_ + "\">moved</a>";
        const std::string answer =
            "HTTP/1.1 302 Found\r\nLocation: " + location_ +
            "\r\nContent-Type: text/html\r\nContent-Length: " +
            std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" +
            page;
        [[maybe_unused]] ssize_t sent = write(c, answer.data(), answer.size());
        close(c);
      }
    });
  }
  ~Redirector() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  std::string url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::atomic<int> answered{0};

private:
  std::string location_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A door unit has no reason to redirect, and following one would take the
// stream or a relay command to whatever host it names: the redirect is read
// as the answer, and the host it names sees nothing.
TEST(Http, RedirectsAreNeverFollowed) {
  DoorSim elsewhere;
  ASSERT_NE(elsewhere.port(), 0);
  HINTERNET session = InternetOpen("Vestibell_1.39");
  for (const std::string path :
       {"/video.mjpg", "/cgi-bin/remctrl.sh?id=relay1"}) {
    Redirector door(elsewhere.url(path));
    HINTERNET request = InternetOpenUrl(session, door.url(path).c_str());
    ASSERT_NE(request, nullptr) << path;
    EXPECT_EQ(ReadAll(request, nullptr, 4096),
              "<a href=\"" + elsewhere.url(path) + "\">moved</a>")
        << path;
    InternetCloseHandle(request);
    EXPECT_EQ(door.answered, 1);
  }
  InternetCloseHandle(session);
  EXPECT_EQ(elsewhere.Status("connections"), 0);
  EXPECT_EQ(elsewhere.Status("relay1"), 0);
}

} // namespace
